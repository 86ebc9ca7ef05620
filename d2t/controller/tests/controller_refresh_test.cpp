// Refresh: the inventory's slot rows and drive slots follow the changer's
// element status, and the library type is measured once.
#include <gtest/gtest.h>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/tools/tools.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;
using json_spirit::Value;

namespace {

// A library of 10 storage and 2 porter slots, 2 drives, a cleaning
// cartridge in slot 1 and CHG0002L9..CHG0006L9 in slots 2..6.
class Refresh_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    Changer_Layout c = make_changer("CHG0001", 10, 2, 6);
    c.porter_slots = 2;
    c.cartridges[0] = {1, -1, "CLN001L1", 0, true};
    start({0, 0, 0, {c}});
    id_ = changer_id("CHG0001");
    impl_ = controller().impl();
  }

  Object refresh() {
    Object result;
    EXPECT_TRUE(controller().refresh("CHG0001", result));
    return result;
  }

  Value tag(int slot) { return slot_row("CHG0001", slot)["media_tag"]; }
  bool porter(int slot) { return slot_row("CHG0001", slot)["is_porter"].get_bool(); }

  ACE_INT64 id_ = -1;
  Tape_Controller_Impl* impl_ = nullptr;
};

// Rows, tags and porter flags follow the changer; a drive holding a
// cartridge moved in behind the inventory's back records its home slot,
// whose row keeps the tag, so the controller can send it home.
TEST_F(Refresh_Test, RowsTagsPorterFlagsAndDriveSlotsFollowTheHardware) {
  database::sql::Connection_var c =
      database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
  ASSERT_TRUE(
      c->execute(database::sql::Raw_SQL("DELETE FROM slot WHERE slot_number BETWEEN 6 AND 10")));
  ASSERT_TRUE(d2t::tools::transfer("/dev/sg100", 2, 9, 1));  // moved behind our back
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 1, 4, "CHG0004L9", 1, count_failure));
  ASSERT_TRUE(impl_->set_media_tag(id_, 3, "WRONG"));
  ASSERT_TRUE(impl_->set_media_tag(id_, 4, ""));
  d2t::Media m;
  m.slot_number(5);
  m.media_tag("CHG0005L9");
  m.is_porter(true);
  ASSERT_TRUE(impl_->update_slot(id_, m));
  m = d2t::Media();
  m.slot_number(11);
  ASSERT_TRUE(impl_->update_slot(id_, m));

  Object result = refresh();
  // Every tag as the changer reports it: 2 moved to 9, 3 corrected, 4 the
  // home of drive 1's cartridge, 6 and 9 in new rows.
  expect_consistent();
  EXPECT_FALSE(slot_row("CHG0001", 10).empty());
  EXPECT_TRUE(tag(10).is_null());
  EXPECT_FALSE(porter(5));
  EXPECT_TRUE(porter(11));
  const Object& d1 = result["drives"].get_array()[1].get_obj();
  EXPECT_EQ(4, d1.at("slot_number").get_int());
  EXPECT_EQ("CHG0004L9", d1.at("media_tag").get_str());
  EXPECT_EQ("", result["slots"].get_array()[3].get_obj().at("media_tag").get_str());

  unload("CHG0001-D1", true);
  EXPECT_EQ("slot:4", where_is("CHG0004L9"));
  expect_consistent();
}

// One load plus one unload (two clock readings) over 4 s is a physical
// library; once stored, the type is not measured again.
TEST_F(Refresh_Test, LibraryTypeIsDetectedOnce) {
  for (const auto& row : {std::make_pair(4000, "virtual"), std::make_pair(4001, "physical")}) {
    SCOPED_TRACE(row.first);
    ASSERT_TRUE(impl_->set_changer_type(id_, ""));
    auto clock = std::make_shared<Fake_Controller_Clock>(row.first);
    controller().clock(clock);
    EXPECT_EQ(row.second, str(refresh(), "type"));
    EXPECT_EQ(row.second, impl_->get_changer_type(id_));
    EXPECT_EQ(2, clock->reads());
    refresh();
    EXPECT_EQ(2, clock->reads());
  }
  expect_consistent();
}

// The type measurement's unload fails: the cartridge stays in the drive,
// and the inventory (and the reply) records it there, so that an unload can
// send it home later.
TEST_F(Refresh_Test, CartridgeKeptByAFailedTypeDetectionUnloadIsRecorded) {
  ASSERT_TRUE(impl_->set_changer_type(id_, ""));
  set_faults({{"unmount", "", 100000, false}});
  const Object result = refresh();
  EXPECT_EQ("drive:0", where_is("CHG0002L9"));
  EXPECT_EQ(2, stored_slot("CHG0001-D0"));
  EXPECT_EQ("CHG0002L9", str(slot_row("CHG0001", 2), "media_tag"));  // home keeps its tag
  const Object& drive0 = result.at("drives").get_array().at(0).get_obj();
  EXPECT_EQ("CHG0002L9", str(drive0, "media_tag"));
  expect_consistent();
  set_faults({});
  unload("CHG0001-D0", true);
  EXPECT_EQ("slot:2", where_is("CHG0002L9"));
  expect_consistent();
}

}  // namespace
