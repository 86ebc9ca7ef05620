// The media_controller schema and the changer, drive and slot records of the
// database inventory, on both engines.
#include <algorithm>

#include "d2t/controller/tests/inventory_fixture.h"
#include "d2t/util/media.h"

namespace inventory_test {
namespace {

using database::sql::Fault_Plan;
using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

d2t::Media medium(int slot, const std::string& tag, bool porter = false) {
  d2t::Media m;
  m.slot_number(slot);
  m.media_tag(tag);
  m.is_porter(porter);
  return m;
}

class Inventory_Records_Test : public Inventory_Test {
 protected:
  Value drive_slot() {
    Object d;
    EXPECT_TRUE(impl_.get_drive("DRV0", d));
    return d["slot_number"];
  }
};

TEST_P(Inventory_Records_Test, OmittedColumnsTakeDefaultsAndRequiredOnesRefuseNull) {
  Object changer = changer_data("LIB1");
  changer.erase("type");
  changer.erase("sg_name");
  const long long changer_id = impl_.add_changer(changer);
  ASSERT_GT(changer_id, 0);
  Object c = row("changer", changer_id);
  EXPECT_EQ(Value(""), c["type"]);
  EXPECT_TRUE(c["sg_name"].is_null());
  Object drive = drive_data(changer_id, 0, "DRV0", "/dev/nst0");
  drive.erase("failures");
  drive.erase("dev_name");
  const long long drive_id = impl_.add_drive(drive);
  ASSERT_GT(drive_id, 0);
  Object d = row("drive", drive_id);
  EXPECT_EQ(Value(0), d["failures"]);
  EXPECT_TRUE(d["slot_number"].is_null());
  EXPECT_TRUE(d["dev_name"].is_null());
  Object slot = slot_data(changer_id, 1, Value::null);
  slot.erase("is_porter");
  ASSERT_GT(impl_.add_slot(slot), 0);
  Object s;
  ASSERT_TRUE(impl_.get_slot(changer_id, 1, s));
  EXPECT_EQ(Value(false), s["is_porter"]);
  EXPECT_TRUE(s["media_tag"].is_null());

  changer.erase("serial_number");
  EXPECT_EQ(-1, impl_.add_changer(changer));
  EXPECT_TRUE(logs_.has_line("Failed to add changer\n"));
  drive = drive_data(changer_id, 1, "DRV1", "/dev/nst1");
  drive.erase("drive_number");
  EXPECT_EQ(-1, impl_.add_drive(drive));
  EXPECT_TRUE(logs_.has_line("Failed to add drive\n"));
  // A drive or slot of a changer that does not exist is refused too.
  EXPECT_EQ(-1, impl_.add_drive(drive_data(changer_id + 1000, 0, "DRV9", "/dev/nst9")));
  EXPECT_EQ(-1, impl_.add_slot(slot_data(changer_id + 1000, 2, "T1")));
  EXPECT_TRUE(logs_.has_line("Failed to add slot\n"));
}

TEST_P(Inventory_Records_Test, DuplicatesAreRefusedAndChangerChangesCascade) {
  make_library();
  EXPECT_EQ(-1, impl_.add_drive(drive_data(changer_id_, 0, "OTHER", "/dev/nst9")));
  EXPECT_TRUE(logs_.has_line("Failed to add drive\n"));
  EXPECT_EQ(-1, impl_.add_slot(slot_data(changer_id_, 1, "X1")));
  EXPECT_EQ(-1, impl_.add_slot(changer_id_, medium(3, "OTHER")));
  EXPECT_TRUE(logs_.has_line("Failed to add slot\n"));
  Object d;
  ASSERT_TRUE(impl_.get_drive(changer_id_, 0, d));
  EXPECT_EQ(Value("DRV0"), d["serial_number"]);
  EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0]));
  EXPECT_EQ(Value("T3"), tag_of(slot_ids_[2]));
  // The same numbers in another changer are fine.
  const long long other = impl_.add_changer(changer_data("LIB2"));
  ASSERT_GT(impl_.add_drive(drive_data(other, 0, "DRV9", "/dev/nst9")), 0);
  ASSERT_GT(impl_.add_slot(slot_data(other, 1, "X1")), 0);

  // A changer's new id carries over to its rows.
  database::sql::Update_SQL u("changer");
  u.set("id", changer_id_ + 500, nullptr).where("id=:id").bind(":id", changer_id_);
  ASSERT_TRUE(connection()->execute(u)) << connection()->last_error();
  EXPECT_EQ(1, scalar("SELECT count(*) FROM drive WHERE changer_id=:id", changer_id_ + 500));
  EXPECT_EQ(3, scalar("SELECT count(*) FROM slot WHERE changer_id=:id", changer_id_ + 500));
  // clear() deletes every changer of that serial (the column is not
  // unique) with its drives and slots, and nothing of another changer.
  const long long twin = impl_.add_changer(changer_data("LIB1"));
  ASSERT_GT(impl_.add_slot(slot_data(twin, 1, "Z1")), 0);
  ASSERT_TRUE(impl_.clear("LIB1"));
  Object c;
  EXPECT_FALSE(impl_.get_changer("LIB1", c));
  EXPECT_TRUE(impl_.get_changer("LIB2", c));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM drive WHERE changer_id<>:id", other));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM slot WHERE changer_id<>:id", other));
  EXPECT_EQ(1, scalar("SELECT count(*) FROM drive WHERE changer_id=:id", other));
  EXPECT_EQ(1, scalar("SELECT count(*) FROM slot WHERE changer_id=:id", other));
}

TEST_P(Inventory_Records_Test, ChangerAndDriveRecordsRoundTrip) {
  make_library();
  Object c, expected = changer_data("LIB1");
  ASSERT_TRUE(impl_.get_changer("LIB1", c));
  expected.erase("drives");
  expected["id"] = changer_id_;
  EXPECT_EQ(expected, c);
  EXPECT_TRUE(impl_.set_changer_name(changer_id_, "/dev/sg7"));
  EXPECT_TRUE(impl_.set_changer_type(changer_id_, "virtual"));
  EXPECT_EQ("virtual", impl_.get_changer_type(changer_id_));

  Object d, by_number;
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  expected = drive_data(changer_id_, 0, "DRV0", "/dev/nst0");
  insert(expected)("id", drive_id_)("slot_number", Value::null);
  EXPECT_EQ(expected, d);
  ASSERT_TRUE(impl_.get_drive(changer_id_, 0, by_number));
  EXPECT_EQ(d, by_number);
  EXPECT_TRUE(impl_.set_drive_name(drive_id_, "/dev/sg9", "/dev/nst5"));
  EXPECT_TRUE(impl_.update_drive_failure("/dev/nst5", 2));

  // The drive's slot by device name (null: none) and by serial (0 or -1: none).
  EXPECT_TRUE(impl_.set_drive_slot("/dev/nst5", Value(3)));
  EXPECT_EQ(Value(3), drive_slot());
  EXPECT_TRUE(impl_.set_drive_slot("/dev/nst5", Value::null));
  EXPECT_TRUE(drive_slot().is_null());
  for (ACE_INT64 none : {ACE_INT64(0), ACE_INT64(-1)}) {
    ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(5)));
    EXPECT_EQ(Value(5), drive_slot());
    EXPECT_TRUE(impl_.set_drive_slot(std::string("DRV0"), none));
    EXPECT_TRUE(drive_slot().is_null()) << none;
  }

  // The tape device joins the changer's device name.
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(3)));
  Object dev;
  ASSERT_TRUE(impl_.get_tape_device("DRV0", dev));
  expected.clear();
  insert(expected)("drive_id", drive_id_)("dev_name", "/dev/nst5")("slot_number", 3)("drive_number", 0)(
      "sg_name", "/dev/sg7")("changer_serial_number", "LIB1")("changer_id", changer_id_)("failures", 2);
  EXPECT_EQ(expected, dev);
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(0)));
  ASSERT_TRUE(impl_.get_tape_device("DRV0", dev));
  EXPECT_TRUE(dev["slot_number"].is_null());
}

TEST_P(Inventory_Records_Test, SlotReadsAndLookupsThatFindNothing) {
  make_library();
  Object s, expected;
  ASSERT_TRUE(impl_.get_slot("T3", s));
  insert(expected)("id", slot_ids_[2])("changer_id", changer_id_)("slot_number", 3)("media_tag", "T3")(
      "is_porter", false);
  EXPECT_EQ(expected, s);
  ASSERT_TRUE(impl_.get_slot(changer_id_, 2, s));
  EXPECT_EQ(Value(slot_ids_[1]), s["id"]);
  EXPECT_TRUE(s["media_tag"].is_null());
  ASSERT_TRUE(impl_.get_slot("LIB1", 1, s));  // the transfer record
  expected.clear();
  insert(expected)("media_id", slot_ids_[0])("sg_name", "/dev/sg3")("media_tag", "T1")("slot_number", 1)(
      "is_porter", false);
  EXPECT_EQ(expected, s);

  // get_slots replaces the array, also by an empty one; a failed read leaves it alone.
  Array slots(1, Value("stale"));
  ASSERT_TRUE(impl_.get_slots(changer_id_, slots));
  EXPECT_EQ(3u, slots.size());
  ASSERT_TRUE(impl_.get_slots(impl_.add_changer(changer_data("LIB2")), slots));
  EXPECT_TRUE(slots.empty());
  Array kept(1, Value("kept"));
  manager()->set_fault_plan(Fault_Plan(1, Fault_Plan::ONCE, Fault_Plan::OP_QUERY));
  EXPECT_FALSE(impl_.get_slots(changer_id_, kept));
  manager()->clear_fault_plan();
  EXPECT_EQ(Array(1, Value("kept")), kept);
  logs_.clear();

  // Nothing found: false, output untouched, nothing logged.
  Object out{{"keep", 1}};
  EXPECT_FALSE(impl_.get_changer("NOPE", out));
  EXPECT_FALSE(impl_.get_drive("NOPE", out));
  EXPECT_FALSE(impl_.get_drive(changer_id_, 5, out));
  EXPECT_FALSE(impl_.get_tape_device("NOPE", out));
  EXPECT_FALSE(impl_.get_slot("NO-SUCH-TAG", out));
  EXPECT_FALSE(impl_.get_slot(changer_id_, 99, out));
  EXPECT_FALSE(impl_.get_slot("LIB1", 99, out));
  EXPECT_FALSE(impl_.get_slot("NO-SUCH-LIB", 1, out));
  EXPECT_EQ((Object{{"keep", 1}}), out);
  EXPECT_EQ("", impl_.get_changer_type(changer_id_ + 1000));
  EXPECT_EQ(std::vector<std::string>(), logs_.lines());
}

// An empty tag is stored as NULL by add_slot(Media) and update_slot, and
// only NULL means empty; is_porter always reads back as a boolean.
TEST_P(Inventory_Records_Test, EmptyMeansNullAndPorterIsBoolean) {
  make_library();
  EXPECT_EQ(2, impl_.get_empty_slot(changer_id_));
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 1));
  EXPECT_TRUE(impl_.slot_empty(changer_id_, 2));
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 99));
  ASSERT_TRUE(impl_.set_media_tag(changer_id_, 2, ""));  // stored as it is
  EXPECT_EQ(Value(""), tag_of(slot_ids_[1]));
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 2));
  EXPECT_EQ(-1, impl_.get_empty_slot(changer_id_));
  ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "", true)));
  EXPECT_TRUE(tag_of(slot_ids_[1]).is_null());
  EXPECT_TRUE(impl_.slot_empty(changer_id_, 2));
  const long long empty = impl_.add_slot(changer_id_, medium(4, ""));
  ASSERT_GT(empty, 0);
  EXPECT_TRUE(tag_of(empty).is_null());
  ASSERT_GT(impl_.add_slot(changer_id_, medium(5, "T5", true)), 0);
  ASSERT_GT(impl_.add_slot(slot_data(changer_id_, 6, "T6", true)), 0);

  Array slots;
  ASSERT_TRUE(impl_.get_slots(changer_id_, slots));
  ASSERT_EQ(6u, slots.size());
  std::vector<int> porters;
  for (const Value& v : slots) {
    const Object& s = v.get_obj();
    EXPECT_EQ(5u, s.size());
    ASSERT_EQ(json_spirit::bool_type, s.at("is_porter").type());
    EXPECT_EQ(json_spirit::int_type, s.at("slot_number").type());
    EXPECT_EQ(Value(changer_id_), s.at("changer_id"));
    if (s.at("is_porter").get_bool()) porters.push_back(s.at("slot_number").get_int());
  }
  std::sort(porters.begin(), porters.end());
  EXPECT_EQ((std::vector<int>{2, 5, 6}), porters);
  Object s;
  ASSERT_TRUE(impl_.get_slot("T6", s));
  EXPECT_EQ(Value(true), s["is_porter"]);
  ASSERT_TRUE(impl_.get_slot("LIB1", 2, s));
  EXPECT_EQ(Value(true), s["is_porter"]);
  ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "T2", false)));
  ASSERT_TRUE(impl_.get_slot("T2", s));
  EXPECT_EQ(Value(2), s["slot_number"]);
  EXPECT_EQ(Value(false), s["is_porter"]);
}

// Without a connection every operation gives its failure value, logs the
// connection failure (not a refused insert or a bad record), leaves its
// output as it was and changes nothing.
TEST_P(Inventory_Records_Test, UnreachableDatabaseFailsEveryOperation) {
  make_library();
  Object from, to;
  ASSERT_TRUE(impl_.get_slot("LIB1", 1, from));
  ASSERT_TRUE(impl_.get_slot("LIB1", 2, to));
  make_unreachable();
  EXPECT_FALSE(impl_.open());
  EXPECT_EQ(-1, impl_.add_changer(changer_data("LIB9")));
  EXPECT_EQ(-1, impl_.add_drive(drive_data(changer_id_, 1, "D", "/dev/nst1")));
  EXPECT_EQ(-1, impl_.add_slot(slot_data(changer_id_, 7, "T7")));
  EXPECT_EQ(-1, impl_.add_slot(changer_id_, medium(8, "T8")));
  Object out{{"keep", 1}};
  EXPECT_FALSE(impl_.get_changer("LIB1", out));
  EXPECT_FALSE(impl_.get_drive("DRV0", out));
  EXPECT_FALSE(impl_.get_tape_device("DRV0", out));
  EXPECT_FALSE(impl_.get_slot("T1", out));
  EXPECT_FALSE(impl_.get_slot(changer_id_, 1, out));
  EXPECT_FALSE(impl_.get_slot("LIB1", 1, out));
  EXPECT_EQ((Object{{"keep", 1}}), out);
  Array slots(1, Value("kept"));
  EXPECT_FALSE(impl_.get_slots(changer_id_, slots));
  EXPECT_EQ(Array(1, Value("kept")), slots);
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 2));
  EXPECT_EQ(-1, impl_.get_empty_slot(changer_id_));
  EXPECT_FALSE(impl_.set_media_tag(changer_id_, 2, "T2"));
  EXPECT_FALSE(impl_.update_slot(changer_id_, medium(2, "T2")));
  EXPECT_FALSE(impl_.transfer(from, to));
  EXPECT_FALSE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(1)));
  EXPECT_FALSE(impl_.update_drive_failure("/dev/nst0", 1));
  EXPECT_FALSE(impl_.reset());
  EXPECT_FALSE(impl_.clear("LIB1"));
  EXPECT_TRUE(logs_.starts_with("Failed to connect to database 'media_controller' at "));
  EXPECT_TRUE(logs_.contains("tape_controller_database_impl.cpp:"));
  EXPECT_FALSE(logs_.contains("Failed to add"));
  EXPECT_FALSE(logs_.starts_with("Transfer object exception: "));
  logs_.clear();
  EXPECT_EQ("", impl_.get_changer_type(changer_id_));
  EXPECT_TRUE(logs_.has_line("Failed to connect to database 'media_controller'\n"));

  ASSERT_TRUE(manager()->configure(url_));
  EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0]));
  EXPECT_TRUE(tag_of(slot_ids_[1]).is_null());
  EXPECT_EQ(3, scalar("SELECT count(*) FROM slot"));
  EXPECT_EQ(1, scalar("SELECT count(*) FROM changer"));
}

// Serial numbers and tags are data: quotes, semicolons and SQL text are
// stored and matched as they are and never run.
TEST_P(Inventory_Records_Test, HostileTextIsStoredAsData) {
  const std::string hostile[] = {"LIB'1",       "x'; DROP TABLE changer; --", "\"quoted\";",
                                 "' OR '1'='1", "a:serial_number",            "back\\slash",
                                 "1); DELETE FROM slot WHERE (1=1"};
  const long long n = sizeof hostile / sizeof hostile[0];
  for (const std::string& s : hostile) {
    SCOPED_TRACE(s);
    const long long id = impl_.add_changer(changer_data(s));
    ASSERT_GT(id, 0);
    ASSERT_GT(impl_.add_drive(drive_data(id, 0, s, s)), 0);
    ASSERT_GT(impl_.add_slot(id, medium(1, s)), 0);
    ASSERT_GT(impl_.add_slot(id, medium(2, "")), 0);
    Object c, d, from, to;
    ASSERT_TRUE(impl_.get_changer(s, c));
    EXPECT_EQ(Value(id), c["id"]);
    EXPECT_EQ(Value(s), c["serial_number"]);
    ASSERT_TRUE(impl_.get_tape_device(s, d));
    EXPECT_EQ(Value(s), d["dev_name"]);
    EXPECT_TRUE(impl_.update_drive_failure(s, 2));
    ASSERT_TRUE(impl_.get_drive(s, d));
    EXPECT_EQ(Value(2), d["failures"]);
    ASSERT_TRUE(impl_.get_slot(s, 1, from));
    ASSERT_TRUE(impl_.get_slot(s, 2, to));
    ASSERT_TRUE(impl_.transfer(from, to));
    ASSERT_TRUE(impl_.get_slot(s, d));
    EXPECT_EQ(Value(s), d["media_tag"]);
    EXPECT_EQ(Value(2), d["slot_number"]);
  }
  // Only the exact text matches; clearing one serial removes that changer alone.
  Object c;
  EXPECT_FALSE(impl_.get_changer("anything' OR '1'='1", c));
  EXPECT_EQ(n, scalar("SELECT count(*) FROM changer"));
  EXPECT_EQ(n, scalar("SELECT count(*) FROM drive"));
  EXPECT_EQ(2 * n, scalar("SELECT count(*) FROM slot"));
  EXPECT_TRUE(impl_.clear("' OR '1'='1"));
  EXPECT_EQ(n - 1, scalar("SELECT count(*) FROM changer"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Records_Test, ::testing::Values(SQLITE, PGSQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
