// Refresh: the inventory's slot rows and drive slots follow the changer's
// element status; the slot-row index finds what a linear search finds.
#include <gtest/gtest.h>

#include "d2t/controller/slot_row_index.h"
#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/tools/tools.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Array;
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

TEST_F(Refresh_Test, RowsTagsPorterFlagsAndNamesFollowTheHardware) {
  database::sql::Connection_var c =
      database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
  ASSERT_TRUE(c->execute(database::sql::Raw_SQL("DELETE FROM slot WHERE slot_number BETWEEN 6 AND 10")));
  ASSERT_TRUE(d2t::tools::transfer("/dev/sg100", 2, 9, 1));  // moved behind our back
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
  ASSERT_TRUE(impl_->set_changer_name(id_, "/dev/sg999"));

  Object result = refresh();  // the library as the changer reports it now
  EXPECT_EQ("/dev/sg100", str(result, "sg_name"));
  EXPECT_EQ("", result["drives"].get_array().at(1).get_obj().at("media_tag").get_str());
  const Array& slots = result["slots"].get_array();
  ASSERT_EQ(12u, slots.size());
  EXPECT_EQ("full", slots[2].get_obj().at("state").get_str());
  EXPECT_EQ("empty", slots[9].get_obj().at("state").get_str());
  EXPECT_FALSE(slots[9].get_obj().at("is_porter").get_bool());
  EXPECT_TRUE(slots[10].get_obj().at("is_porter").get_bool());

  EXPECT_EQ("CLN001L1", tag(1).get_str());
  EXPECT_TRUE(tag(2).is_null());
  EXPECT_EQ("CHG0003L9", tag(3).get_str());
  EXPECT_EQ("CHG0004L9", tag(4).get_str());
  EXPECT_EQ("CHG0005L9", tag(5).get_str());
  EXPECT_FALSE(porter(5));
  EXPECT_EQ("CHG0006L9", tag(6).get_str());
  EXPECT_EQ("CHG0002L9", tag(9).get_str());
  EXPECT_FALSE(slot_row("CHG0001", 10).empty());
  EXPECT_TRUE(tag(10).is_null());
  EXPECT_TRUE(porter(11));
  EXPECT_EQ("/dev/sg100", str(slot_row("CHG0001", 1), "sg_name"));
  expect_consistent();
}

TEST_F(Refresh_Test, DriveSlotsAreStoredAndHomeSlotsKeepTheirTags) {
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 1, 3, "CHG0003L9", 1, count_failure));
  Object result = refresh();
  const Object& d1 = result["drives"].get_array()[1].get_obj();
  EXPECT_EQ(3, d1.at("slot_number").get_int());
  EXPECT_EQ("CHG0003L9", d1.at("media_tag").get_str());
  EXPECT_EQ("", result["slots"].get_array()[2].get_obj().at("media_tag").get_str());
  expect_consistent();  // drive 1 records slot 3, whose row keeps its tag

  // The controller can now send the cartridge home.
  unload("CHG0001-D1", true);
  EXPECT_EQ("slot:3", where_is("CHG0003L9"));
  refresh();
  EXPECT_TRUE(drive_row("CHG0001-D1")["slot_number"].is_null());
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

// The type is measured with the first empty drive whose tape device is
// stored and the first cartridge that is not a cleaning cartridge; with
// every drive holding a cartridge nothing is measured.
TEST_F(Refresh_Test, TypeDetectionPicksItsDriveAndCartridge) {
  std::int64_t d0 = 0;
  ASSERT_TRUE(json_spirit::object_get(drive_row("CHG0001-D0"), "id", d0));
  ASSERT_TRUE(impl_->set_drive_name(d0, "/dev/sg200", ""));
  ASSERT_TRUE(impl_->set_changer_type(id_, ""));
  set_faults({{"mount", "", 1, true}});  // stops the measuring load
  Log_Capture logs;
  refresh();
  EXPECT_TRUE(logs.contains("Failed to mount(CHG0002L9) 2 to 1."));
  EXPECT_FALSE(logs.contains("CLN001L1"));
  EXPECT_EQ("", impl_->get_changer_type(id_));
  EXPECT_EQ("slot:2", where_is("CHG0002L9"));

  set_faults({});
  ASSERT_TRUE(impl_->set_drive_name(d0, "/dev/sg200", "/dev/st0"));
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 0, 2, "CHG0002L9", 1, count_failure));
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 1, 3, "CHG0003L9", 1, count_failure));
  auto clock = std::make_shared<Fake_Controller_Clock>(1);
  controller().clock(clock);
  refresh();
  EXPECT_EQ(0, clock->reads());
  EXPECT_EQ("", impl_->get_changer_type(id_));
  EXPECT_EQ("drive:0", where_is("CHG0002L9"));
  EXPECT_EQ("drive:1", where_is("CHG0003L9"));
  expect_consistent();
}

TEST(Slot_Row_Index_Test, FindsTheRowALinearSearchFinds) {
  auto row = [](Value slot, const char* tag, Value porter = Value(false)) {
    Object o;
    json_spirit::insert(o)("slot_number", slot)("media_tag", tag)("is_porter", porter);
    return Value(o);
  };
  const Array rows = {row(3, "first3"),          Value("not an object"),
                      row(5, "first5", Value(1)), row(3, "second3"),
                      row(Value("7"), "text7"),   row(Value(), "null"),
                      Value(Object()),            row(7, "real7", Value(true)),
                      row(Value(4294967296LL), "too-big"), row(-1, "negative")};
  const std::vector<Slot_Row> compact = slot_rows_from_objects(rows);
  Slot_Row_Index index(compact);
  for (ACE_INT32 slot : {-1, 0, 1, 3, 5, 7, 8}) {
    const Object* expected = nullptr;  // the first match of a linear search
    for (auto v = rows.rbegin(); v != rows.rend(); ++v) {
      if (match_slot_number(*v, slot)) expected = &v->get_obj();
    }
    const Slot_Row* found = index.find(slot);
    ASSERT_EQ(expected == nullptr, found == nullptr) << slot;
    EXPECT_EQ(expected ? expected->at("media_tag").get_str() : "", found ? found->media_tag : "") << slot;
  }
  EXPECT_EQ("first3", index.find(3)->media_tag);
  EXPECT_EQ(-1, index.find(5)->is_porter);  // not a boolean: never compared
  EXPECT_EQ(1, index.find(7)->is_porter);
  EXPECT_EQ(0, index.find(3)->is_porter);
  EXPECT_FALSE(match_slot_number(Value(5), 5));
}

}  // namespace
