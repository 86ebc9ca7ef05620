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

class Counting_Clock : public Controller_Clock {
 public:
  ACE_UINT64 now_ms() override { return ++reads_; }
  void sleep_seconds(unsigned int) override {}
  int reads() const { return static_cast<int>(reads_); }

 private:
  std::atomic<ACE_UINT64> reads_{0};
};

class Refresh_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    changer_ = make_changer("CHG0001", 10, 2, 6);
    changer_.porter_slots = 2;
    spec_.changers = {changer_};
    write_library(spec_);
    ASSERT_TRUE(open_controller());
    rescan_ok("CHG0001");
    id_ = changer_id("CHG0001");
  }

  Object refresh() {
    Object result;
    EXPECT_TRUE(controller().refresh("CHG0001", result));
    return result;
  }

  Value tag(int slot) { return slot_row("CHG0001", slot)["media_tag"]; }

  void execute(const std::string& text) {
    database::sql::Connection_var c =
        database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
    ASSERT_TRUE(c.get() != nullptr);
    ASSERT_TRUE(c->execute(database::sql::Raw_SQL(text))) << c->last_error();
  }

  Changer_Spec changer_;
  Library_Spec spec_;
  ACE_INT64 id_ = -1;
};

TEST_F(Refresh_Test, ResultDescribesTheLibraryAsReportedNow) {
  Object result = refresh();
  EXPECT_EQ("CHG0001", *json_spirit::object_get_str(result, "serial_number"));
  EXPECT_EQ("/dev/sg100", *json_spirit::object_get_str(result, "sg_name"));
  const Array& drives = result["drives"].get_array();
  ASSERT_EQ(2u, drives.size());
  EXPECT_EQ(1, drives[1].get_obj().at("drive_number").get_int());
  EXPECT_EQ("", drives[1].get_obj().at("media_tag").get_str());
  const Array& slots = result["slots"].get_array();
  ASSERT_EQ(12u, slots.size());
  EXPECT_EQ("CHG0001L9", slots[0].get_obj().at("media_tag").get_str());
  EXPECT_EQ("full", slots[0].get_obj().at("state").get_str());
  EXPECT_EQ("empty", slots[9].get_obj().at("state").get_str());
  EXPECT_FALSE(slots[9].get_obj().at("is_porter").get_bool());
  EXPECT_TRUE(slots[10].get_obj().at("is_porter").get_bool());
}

TEST_F(Refresh_Test, MissingRowsAreAddedAndTagsFollowTheHardware) {
  execute("DELETE FROM slot WHERE slot_number > 5");
  ASSERT_TRUE(d2t::tools::transfer("/dev/sg100", 1, 9, 1));  // moved behind our back
  ASSERT_TRUE(controller().impl()->set_media_tag(id_, 2, "WRONG"));
  ASSERT_TRUE(controller().impl()->set_media_tag(id_, 4, ""));
  refresh();
  EXPECT_TRUE(tag(1).is_null());
  EXPECT_EQ("CHG0002L9", tag(2).get_str());
  EXPECT_EQ("CHG0004L9", tag(4).get_str());
  EXPECT_EQ("CHG0006L9", tag(6).get_str());
  EXPECT_EQ("CHG0001L9", tag(9).get_str());
  EXPECT_TRUE(tag(12).is_null());
  EXPECT_FALSE(slot_row("CHG0001", 12).empty());
  expect_consistent();
}

TEST_F(Refresh_Test, PorterFlagsFollowTheHardware) {
  d2t::Media porter;
  porter.slot_number(11);
  porter.is_porter(false);
  ASSERT_TRUE(controller().impl()->update_slot(id_, porter));
  d2t::Media storage;
  storage.slot_number(3);
  storage.media_tag("CHG0003L9");
  storage.is_porter(true);
  ASSERT_TRUE(controller().impl()->update_slot(id_, storage));
  refresh();
  EXPECT_TRUE(slot_row("CHG0001", 11)["is_porter"].get_bool());
  EXPECT_FALSE(slot_row("CHG0001", 3)["is_porter"].get_bool());
  EXPECT_EQ("CHG0003L9", tag(3).get_str());
}

TEST_F(Refresh_Test, DriveSlotsAreStoredAndHomeSlotsKeepTheirTags) {
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 1, 3, "CHG0003L9", 1, count_failure));
  Object result = refresh();
  const Object& d1 = result["drives"].get_array()[1].get_obj();
  EXPECT_EQ(3, d1.at("slot_number").get_int());
  EXPECT_EQ("CHG0003L9", d1.at("media_tag").get_str());
  EXPECT_EQ("", result["slots"].get_array()[2].get_obj().at("media_tag").get_str());

  int stored = 0;
  ASSERT_TRUE(json_spirit::object_get(drive_row("CHG0001-D1"), "slot_number", stored));
  EXPECT_EQ(3, stored);
  EXPECT_EQ("CHG0003L9", tag(3).get_str());
  expect_consistent();

  // The controller can now send the cartridge home.
  Object r;
  ASSERT_TRUE(controller().unload(request("CHG0001-D1"), r)) << json_spirit::JSON_Dump(r);
  EXPECT_EQ("slot:3", where_is("CHG0003L9"));
  refresh();
  EXPECT_TRUE(drive_row("CHG0001-D1")["slot_number"].is_null());
  expect_consistent();
}

TEST_F(Refresh_Test, LibraryTypeIsDetectedOnce) {
  ASSERT_TRUE(controller().impl()->set_changer_type(id_, ""));
  auto clock = std::make_shared<Counting_Clock>();
  controller().clock(clock);
  Object result = refresh();
  EXPECT_EQ("virtual", *json_spirit::object_get_str(result, "type"));
  EXPECT_EQ("virtual", controller().impl()->get_changer_type(id_));
  const int reads = clock->reads();
  EXPECT_EQ(2, reads);
  refresh();
  EXPECT_EQ(reads, clock->reads());
  expect_consistent();
}

TEST_F(Refresh_Test, TypeThresholdIsFourSecondsForOneLoadAndUnload) {
  // Each reading of the fake clock moves it on by `step`: the load plus
  // the unload measure exactly `step` ms.
  for (auto step_and_type : {std::make_pair(4000, "virtual"), std::make_pair(4001, "physical")}) {
    ASSERT_TRUE(controller().impl()->set_changer_type(id_, ""));
    controller().clock(std::make_shared<Fake_Controller_Clock>(step_and_type.first));
    Object result = refresh();
    EXPECT_EQ(step_and_type.second, controller().impl()->get_changer_type(id_)) << step_and_type.first;
  }
  expect_consistent();
}

TEST_F(Refresh_Test, TypeIsNotDetectedWhenEveryDriveHoldsACartridge) {
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 0, 1, "CHG0001L9", 1, count_failure));
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 1, 2, "CHG0002L9", 1, count_failure));
  ASSERT_TRUE(controller().impl()->set_changer_type(id_, ""));
  auto clock = std::make_shared<Counting_Clock>();
  controller().clock(clock);
  Object result = refresh();
  EXPECT_EQ(0, clock->reads());
  EXPECT_EQ("", controller().impl()->get_changer_type(id_));
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  EXPECT_EQ("drive:1", where_is("CHG0002L9"));
  EXPECT_EQ("slot:3", where_is("CHG0003L9"));
  expect_consistent();
}

TEST_F(Refresh_Test, TypeDetectionUsesADriveWithAStoredDeviceName) {
  // Drive 0 has no stored tape device: without it the cartridge could not
  // be ejected, so the measurement uses drive 1.
  Object d0 = drive_row("CHG0001-D0");
  std::int64_t d0_id = 0;
  ASSERT_TRUE(json_spirit::object_get(d0, "id", d0_id));
  ASSERT_TRUE(controller().impl()->set_drive_name(d0_id, "/dev/sg200", ""));
  ASSERT_TRUE(controller().impl()->set_changer_type(id_, ""));
  Log_Capture logs;
  spec_.changers[0].faults = {Fault_Spec{"mount", "", 1, true}};
  write_library(spec_);
  Object result;
  EXPECT_TRUE(controller().refresh("CHG0001", result));
  EXPECT_TRUE(logs.contains("Failed to mount(CHG0001L9) 1 to 1.")) << logs.lines().size();
  EXPECT_EQ("", controller().impl()->get_changer_type(id_));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
}

TEST_F(Refresh_Test, StaleChangerNameIsStoredAgain) {
  ASSERT_TRUE(controller().impl()->set_changer_name(id_, "/dev/sg999"));
  Object result = refresh();
  EXPECT_EQ("/dev/sg100", *json_spirit::object_get_str(result, "sg_name"));
  EXPECT_EQ("/dev/sg100", *json_spirit::object_get_str(slot_row("CHG0001", 1), "sg_name"));
}

TEST_F(Refresh_Test, UnknownLibrariesFail) {
  Log_Capture logs;
  Object result;
  EXPECT_FALSE(controller().refresh("NOSUCH", result));
  EXPECT_TRUE(logs.contains("Failed to find changer(serial_number: NOSUCH)."));
  ASSERT_TRUE(controller().impl()->clear("CHG0001"));
  EXPECT_FALSE(controller().refresh("CHG0001", result));
  EXPECT_TRUE(logs.contains("No mediumx with serial_number 'CHG0001'."));
  EXPECT_TRUE(result.empty());
}

TEST_F(Controller_Test, CleaningCartridgeIsNeverLoadedToTimeTheLibrary) {
  // The changer reports every occupied slot alike; the cleaning cartridge
  // is told by its tag and passed over.
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 6, 1, 0);
  c.cartridges.push_back(Cartridge_Spec{1, -1, "CLN001L1", 0, true});
  c.cartridges.push_back(Cartridge_Spec{2, -1, "CHG0002L9", 0, false});
  spec.changers = {c};
  write_library(spec);
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  const ACE_INT64 id = changer_id("CHG0001");
  ASSERT_TRUE(controller().impl()->set_changer_type(id, ""));

  Log_Capture logs;
  spec.changers[0].faults = {Fault_Spec{"mount", "", 1, true}};
  write_library(spec);
  Object result;
  EXPECT_TRUE(controller().refresh("CHG0001", result));
  EXPECT_TRUE(logs.contains("Failed to mount(CHG0002L9) 2 to 0."));
  EXPECT_FALSE(logs.contains("CLN001L1"));
  EXPECT_EQ("slot:1", where_is("CLN001L1"));
}

// ------------------------------------------------------------ slot index

const Object* linear_first(const Array& rows, ACE_INT32 slot) {
  for (const Value& v : rows) {
    if (match_slot_number(v, slot)) return &v.get_obj();
  }
  return nullptr;
}

TEST(Slot_Row_Index_Test, FindsTheRowALinearSearchFinds) {
  Array rows;
  auto row = [](Value slot, const char* tag, Value porter = Value(false)) {
    Object o;
    o["slot_number"] = slot;
    o["media_tag"] = tag;
    o["is_porter"] = porter;
    return Value(o);
  };
  rows.push_back(row(3, "first3"));
  rows.push_back(Value("not an object"));
  rows.push_back(row(5, "first5", Value(1)));
  rows.push_back(row(3, "second3"));
  rows.push_back(row(Value("7"), "text7"));
  rows.push_back(row(Value(), "null"));
  rows.push_back(Value(Object()));
  rows.push_back(row(7, "real7", Value(true)));
  rows.push_back(row(Value(4294967296LL), "too-big"));
  rows.push_back(row(-1, "negative"));

  const std::vector<Slot_Row> compact = slot_rows_from_objects(rows);
  Slot_Row_Index index(compact);
  for (ACE_INT32 slot : {-1, 0, 1, 3, 5, 7, 8}) {
    const Object* expected = linear_first(rows, slot);
    const Slot_Row* found = index.find(slot);
    ASSERT_EQ(expected == nullptr, found == nullptr) << slot;
    if (expected) {
      EXPECT_EQ(expected->at("media_tag").get_str(), found->media_tag) << slot;
    }
  }
  EXPECT_EQ("first3", index.find(3)->media_tag);
  EXPECT_EQ(-1, index.find(5)->is_porter);  // not a boolean: never compared
  EXPECT_EQ(1, index.find(7)->is_porter);
  EXPECT_EQ(0, index.find(3)->is_porter);
  EXPECT_FALSE(match_slot_number(Value(5), 5));
}

}  // namespace
