// Requests for one library from many threads at once: the controller's
// per-library queue keeps moves, refreshes and their inventory records from
// interleaving.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "websvcs/controller/tapectl/changer_refresh_handler.h"
#include "websvcs/controller/tapectl/media_transfer_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

using tapectl_test::move_body;
using tapectl_test::Reply;
using tapectl_test::run;

namespace {

const char TRANSFER[] = "/d2/r/tapectl/media/transfer";
const char REFRESH[] = "/d2/r/tapectl/changer/refresh?serial_number=LIB-1";

typedef tapectl_test::Tapectl_Test Concurrent_Request_Test;

// Two cartridges sent to one empty slot at once: one moves, the other is
// refused by the slot check, never by a failed robot move.
TEST_F(Concurrent_Request_Test, RacingTransfersIntoOneSlot) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Media_Transfer_Handler h;
  for (int round = 0; round < 10; ++round) {
    Reply a, b;
    std::thread ta([&] { a = run(h, METHOD_POST, TRANSFER, move_body("T0001L9", 1, 5)); });
    std::thread tb([&] { b = run(h, METHOD_POST, TRANSFER, move_body("T0002L9", 2, 5)); });
    ta.join();
    tb.join();
    ASSERT_EQ((std::multiset<int>{200, 400}), (std::multiset<int>{a.status, b.status}))
        << a.body << " / " << b.body;
    const Reply& refused = a.status == 400 ? a : b;
    EXPECT_EQ("Target slot is full", refused.message());
    // Put the winner back.
    const bool first_won = a.status == 200;
    ASSERT_EQ(200, run(h, METHOD_POST, TRANSFER,
                       move_body(first_won ? "T0001L9" : "T0002L9", 5, first_won ? 1 : 2))
                       .status);
  }
  EXPECT_EQ("slot:1", where_is("T0001L9"));
  EXPECT_EQ("slot:2", where_is("T0002L9"));
}

// Moves and refreshes of one library interleaved from many threads: every
// move succeeds (no stale inventory ever refuses one) and the inventory
// ends where the robot is.
TEST_F(Concurrent_Request_Test, MovesAndRefreshesKeepTheInventoryTrue) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Media_Transfer_Handler transfer;
  JSON_RESTful_Changer_Refresh_Handler refresh;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  // Cartridge i (slot i, 1..3) moves between slot i and a free slot of its own.
  const int away[] = {0, 5, 8, 9};
  for (int i = 1; i <= 3; ++i) {
    threads.emplace_back([&, i] {
      const std::string tag = "T000" + std::to_string(i) + "L9";
      int at = i;
      for (int n = 0; n < 20; ++n) {
        const int to = at == i ? away[i] : i;
        const Reply r = run(transfer, METHOD_POST, TRANSFER, move_body(tag, at, to));
        if (r.status != 200) {
          ADD_FAILURE() << tag << " " << at << "->" << to << ": " << (++failures, r.body);
          return;
        }
        at = to;
      }
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int n = 0; n < 30; ++n) {
        if (run(refresh, METHOD_GET, REFRESH).status != 200) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
  // 20 moves: every cartridge is back home, and recorded there only.
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ("slot:" + std::to_string(i), where_is("T000" + std::to_string(i) + "L9"));
  expect_consistent();
  EXPECT_EQ(0u, Tape_Controller::instance()->scheduler().libraries());
}

}  // namespace
