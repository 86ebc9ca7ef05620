// Transfer between slots: the move and its record go together or not at all
// (a move that succeeds is the transfer handler's test).
#include <gtest/gtest.h>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

class Transfer_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    start({0, 0, 0, {make_changer("CHG0001", 10, 1, 4)}});
  }

  Object slot(int n) {
    Object row;
    EXPECT_TRUE(controller().get_slot("CHG0001", n, row)) << n;
    return row;
  }

  // Cartridge `n` and the slot rows of `n` and of the empty slot 9 are as
  // they were before a failed transfer.
  void expect_unmoved(int n) {
    const std::string tag = "CHG000" + std::to_string(n) + "L9";
    EXPECT_EQ("slot:" + std::to_string(n), where_is(tag));
    EXPECT_EQ(tag, str(slot(n), "media_tag"));
    EXPECT_TRUE(slot(9)["media_tag"].is_null());
    expect_consistent();
  }
};

// A failed move, or rows that name no device or slot, touch nothing.
TEST_F(Transfer_Test, FailedMoveAndMalformedRowsTouchNothing) {
  Log_Capture logs;
  Object no_device = slot(1), no_slot = slot(1);
  no_device.erase("sg_name");
  no_slot.erase("slot_number");
  for (const Object& from : {no_device, no_slot}) {
    EXPECT_FALSE(controller().transfer(from, slot(9))) << json_spirit::JSON_Dump(from);
  }
  EXPECT_TRUE(logs.contains("Transfer object exception"));
  expect_unmoved(1);
  set_faults({{"transfer", "", 100000, false}});
  EXPECT_FALSE(controller().transfer(slot(1), slot(9)));
  EXPECT_TRUE(logs.contains("from slot 1 to slot 9 of changer /dev/sg100"));
  expect_unmoved(1);
}

TEST_F(Transfer_Test, InventoryFailureMovesTheCartridgeBack) {
  database::sql::Fault_Plan plan(2, database::sql::Fault_Plan::ONCE);
  plan.match = "UPDATE slot";
  database::sql::Legacy_Manager::instance()->set_fault_plan(plan);
  const bool moved = controller().transfer(slot(3), slot(9));
  database::sql::Legacy_Manager::instance()->clear_fault_plan();
  EXPECT_FALSE(moved);
  expect_unmoved(3);

  // A row the inventory shows empty while the slot holds a cartridge.
  Object from = slot(4);
  from["media_tag"] = json_spirit::Value();
  EXPECT_FALSE(controller().transfer(from, slot(9)));
  expect_unmoved(4);
}

}  // namespace
