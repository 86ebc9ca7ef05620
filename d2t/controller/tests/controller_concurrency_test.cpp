// Many requests at once on one library: loads, unloads, refreshes and
// transfers on different drives and slots, from several threads.
#include <thread>

#include <gtest/gtest.h>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

class Concurrency_Test : public Controller_Test {};

TEST_F(Concurrency_Test, ParallelOperationsKeepTheInventoryConsistent) {
  const int DRIVES = 4;
  Library_Spec spec;
  spec.changers = {make_changer("CHG0001", 40, DRIVES, 16)};
  write_library(spec);
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int d = 0; d < DRIVES; ++d) {
    threads.emplace_back([this, d, &failures] {
      const std::string drive = "CHG0001-D" + std::to_string(d);
      for (int round = 0; round < 3; ++round) {
        // Each drive works with cartridges of its own: d+1, d+5, d+9, ...
        char tag[32];
        std::snprintf(tag, sizeof tag, "CHG%04dL9", d + 1 + 4 * round);
        Object result;
        if (!controller().load(request(drive, tag), result)) ++failures;
        result.clear();
        if (!controller().unload(request(drive), result)) ++failures;
      }
    });
  }
  threads.emplace_back([this, &failures] {
    for (int i = 0; i < 4; ++i) {
      Object result;
      if (!controller().refresh("CHG0001", result)) ++failures;
    }
  });
  threads.emplace_back([this, &failures] {
    // Cartridges 13..16 travel between their slots and the empty 30s.
    for (int i = 0; i < 4; ++i) {
      Object from, to;
      if (!controller().get_slot("CHG0001", 13 + i, from) ||
          !controller().get_slot("CHG0001", 30 + i, to) || !controller().transfer(from, to)) {
        ++failures;
      }
    }
  });
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(0, failures.load());
  for (int i = 0; i < 4; ++i) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "CHG%04dL9", 13 + i);
    EXPECT_EQ("slot:" + std::to_string(30 + i), where_is(tag));
  }
  expect_consistent();
}

}  // namespace
