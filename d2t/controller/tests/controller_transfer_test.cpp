// Transfer between slots: the move and its record go together or not at all.
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
    spec_.changers = {make_changer("CHG0001", 10, 1, 4)};
    write_library(spec_);
    ASSERT_TRUE(open_controller());
    rescan_ok("CHG0001");
  }

  Object slot(int n) {
    Object row;
    EXPECT_TRUE(controller().get_slot("CHG0001", n, row)) << n;
    return row;
  }

  Library_Spec spec_;
};

TEST_F(Transfer_Test, MovesTheCartridgeAndItsTag) {
  Object from = slot(2);
  EXPECT_EQ("/dev/sg100", *json_spirit::object_get_str(from, "sg_name"));
  ASSERT_TRUE(controller().transfer(from, slot(8)));
  EXPECT_EQ("slot:8", where_is("CHG0002L9"));
  EXPECT_TRUE(slot(2)["media_tag"].is_null());
  EXPECT_EQ("CHG0002L9", slot(8)["media_tag"].get_str());
  expect_consistent();
}

TEST_F(Transfer_Test, FailedMoveTouchesNothing) {
  spec_.changers[0].faults = {Fault_Spec{"transfer", "", 100000, false}};
  write_library(spec_);
  Log_Capture logs;
  EXPECT_FALSE(controller().transfer(slot(1), slot(9)));
  EXPECT_TRUE(logs.contains("Failed to transfer 1 to 9 by /dev/sg100."));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
  EXPECT_EQ("CHG0001L9", slot(1)["media_tag"].get_str());
  EXPECT_TRUE(slot(9)["media_tag"].is_null());
  expect_consistent();
}

TEST_F(Transfer_Test, InventoryFailureMovesTheCartridgeBack) {
  database::sql::Fault_Plan plan(2, database::sql::Fault_Plan::ONCE);
  plan.match = "UPDATE slot";
  database::sql::Legacy_Manager::instance()->set_fault_plan(plan);
  const bool moved = controller().transfer(slot(3), slot(7));
  database::sql::Legacy_Manager::instance()->clear_fault_plan();
  EXPECT_FALSE(moved);
  EXPECT_EQ("slot:3", where_is("CHG0003L9"));
  EXPECT_EQ("CHG0003L9", slot(3)["media_tag"].get_str());
  EXPECT_TRUE(slot(7)["media_tag"].is_null());
  expect_consistent();
}

TEST_F(Transfer_Test, RowWithNullTagIsMovedBack) {
  // The inventory is out of date: slot 4 holds a cartridge it does not know.
  Object from = slot(4);
  from["media_tag"] = json_spirit::Value();
  EXPECT_FALSE(controller().transfer(from, slot(9)));
  EXPECT_EQ("slot:4", where_is("CHG0004L9"));
  expect_consistent();
}

TEST_F(Transfer_Test, MalformedRowsAreRefusedBeforeAnyMove) {
  Log_Capture logs;
  Object no_device = slot(1);
  no_device.erase("sg_name");
  EXPECT_FALSE(controller().transfer(no_device, slot(9)));
  Object null_device = slot(1);
  null_device["sg_name"] = json_spirit::Value();
  EXPECT_FALSE(controller().transfer(null_device, slot(9)));
  Object no_slot = slot(1);
  no_slot.erase("slot_number");
  EXPECT_FALSE(controller().transfer(no_slot, slot(9)));
  EXPECT_TRUE(logs.contains("Transfer object exception"));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
  expect_consistent();
}

TEST_F(Transfer_Test, LookupOfASlotTheLibraryLacks) {
  Object row;
  row["keep"] = 1;
  EXPECT_FALSE(controller().get_slot("CHG0001", 99, row));
  EXPECT_FALSE(controller().get_slot("NOSUCH", 1, row));
  EXPECT_EQ(1u, row.size());
}

}  // namespace
