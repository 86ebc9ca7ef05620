// Many requests at once: loads, unloads, refreshes and transfers on
// different drives and slots of one library, and first rescans of two
// libraries new to the inventory.
#include <gtest/gtest.h>

#include <thread>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

std::string tag(int n) {
  char t[32];
  std::snprintf(t, sizeof t, "CHG%04dL9", n);
  return t;
}

TEST_F(Controller_Test, ParallelMovesAndRefreshesKeepTheInventoryConsistent) {
  const int DRIVES = 4;
  start({0, 0, 0, {make_changer("CHG0001", 40, DRIVES, 16)}});
  write_library({0,
                 0,
                 0,
                 {layout_.changers[0], make_changer("BBB0001", 10, 2, 5, 10),
                  make_changer("CCC0001", 10, 2, 5, 20)}});
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int d = 0; d < DRIVES; ++d) {
    threads.emplace_back([this, d, &failures] {
      const std::string drive = "CHG0001-D" + std::to_string(d);
      // Each drive works with cartridges of its own: d+1, d+5, d+9.
      for (int round = 0; round < 3; ++round) {
        Object result;
        if (!controller().load(request(drive, tag(d + 1 + 4 * round)), result)) ++failures;
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
    // Cartridges 13..16 travel from their slots to the empty 30..33.
    for (int i = 0; i < 4; ++i) {
      Object from, to;
      if (!controller().get_slot("CHG0001", 13 + i, from) ||
          !controller().get_slot("CHG0001", 30 + i, to) || !controller().transfer(from, to)) {
        ++failures;
      }
    }
  });
  for (const char* serial : {"BBB0001", "CCC0001", "BBB0001", "CCC0001"}) {
    threads.emplace_back([this, serial, &failures] {
      std::vector<d2t::Changer_var> changers;
      if (!controller().rescan(serial, changers)) ++failures;
    });
  }
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(0, failures.load());
  for (const std::string serial : {"BBB0001", "CCC0001"})
    EXPECT_FALSE(drive_row(serial + "-D1").empty()) << serial;
  for (int i = 0; i < 4; ++i) EXPECT_EQ("slot:" + std::to_string(30 + i), where_is(tag(13 + i)));
  expect_consistent();
}

}  // namespace
