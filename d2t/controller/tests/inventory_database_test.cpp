// The database inventory on both engines: unique numbers, cascades, empty
// tags, porter flags and hostile text; reset and transfer all or nothing
// under injected faults and malformed records. (Many threads at once are
// the SQL layer's concern: database/tests/concurrency_test.cpp.)
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

class Inventory_Database_Test : public Inventory_Test {
 protected:
  // The transfer record of a slot of LIB1.
  Object slot_record(int slot) {
    Object r;
    EXPECT_TRUE(impl_.get_slot("LIB1", slot, r)) << slot;
    return r;
  }

  // Makes the 1st, 2nd, ... step of `op` (connect, begin, a statement,
  // commit) fail once, each time after `prepare`, until no fault fires.
  // `op` must succeed exactly when none fired; `check(done)` then checks
  // the rows. The number of the first run without a fault.
  template <class Prepare, class Op, class Check>
  int walk_faults(Prepare prepare, Op op, Check check) {
    const int ops = Fault_Plan::OP_EXECUTE | Fault_Plan::OP_BEGIN | Fault_Plan::OP_COMMIT |
                    Fault_Plan::OP_CONNECT;
    for (int n = 1; n < 20; ++n) {
      SCOPED_TRACE("fault " + std::to_string(n));
      prepare();
      manager()->set_fault_plan(Fault_Plan(n, Fault_Plan::ONCE, ops));
      const bool ok = op();
      const bool done = manager()->faults_fired() == 0;
      manager()->clear_fault_plan();
      EXPECT_EQ(done, ok);
      check(done);
      if (done) return n;
    }
    return -1;
  }
};

TEST_P(Inventory_Database_Test, DuplicatesAreRefusedAndClearCascades) {
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

// An empty tag is stored as NULL by add_slot(Media) and update_slot, and
// only NULL means empty; is_porter always reads back as a boolean.
TEST_P(Inventory_Database_Test, EmptyMeansNullAndPorterIsBoolean) {
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
  ASSERT_GT(impl_.add_slot(slot_data(changer_id_, 5, "T5", true)), 0);

  Array slots;
  ASSERT_TRUE(impl_.get_slots(changer_id_, slots));
  ASSERT_EQ(5u, slots.size());
  std::vector<int> porters;
  for (const Value& v : slots) {
    const Object& s = v.get_obj();
    ASSERT_EQ(json_spirit::bool_type, s.at("is_porter").type());
    ASSERT_EQ(json_spirit::bool_type, s.at("occupied").type());
    if (s.at("is_porter").get_bool()) porters.push_back(s.at("slot_number").get_int());
  }
  std::sort(porters.begin(), porters.end());
  EXPECT_EQ((std::vector<int>{2, 5}), porters);
  Object s;
  ASSERT_TRUE(impl_.get_slot("LIB1", 2, s));
  EXPECT_EQ(Value(true), s["is_porter"]);
  ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "T2", false)));
  ASSERT_TRUE(impl_.get_slot("T2", s));
  EXPECT_EQ(Value(2), s["slot_number"]);
  EXPECT_EQ(Value(false), s["is_porter"]);
}

// Serial numbers and tags are data: quotes, semicolons and SQL text are
// stored and matched as they are and never run.
TEST_P(Inventory_Database_Test, HostileTextIsStoredAsData) {
  const std::string hostile[] = {"LIB'1",
                                 "x'; DROP TABLE changer; --",
                                 "\"quoted\";",
                                 "' OR '1'='1",
                                 "a:serial_number",
                                 "back\\slash",
                                 "1); DELETE FROM slot WHERE (1=1"};
  const long long n = sizeof hostile / sizeof hostile[0];
  for (const std::string& s : hostile) {
    SCOPED_TRACE(s);
    const long long id = impl_.add_changer(changer_data(s));
    ASSERT_GT(id, 0);
    ASSERT_GT(impl_.add_drive(drive_data(id, 0, s, s)), 0);
    ASSERT_GT(impl_.add_slot(id, medium(1, s)), 0);
    Object c, d;
    ASSERT_TRUE(impl_.get_changer(s, c));
    EXPECT_EQ(Value(id), c["id"]);
    ASSERT_TRUE(impl_.get_tape_device(s, d));
    EXPECT_EQ(Value(s), d["dev_name"]);
    ASSERT_TRUE(impl_.get_slot(s, d));
    EXPECT_EQ(Value(1), d["slot_number"]);
  }
  // Only the exact text matches; clearing one serial removes that changer alone.
  Object c;
  EXPECT_FALSE(impl_.get_changer("anything' OR '1'='1", c));
  EXPECT_EQ(n, scalar("SELECT count(*) FROM changer"));
  EXPECT_EQ(n, scalar("SELECT count(*) FROM drive"));
  EXPECT_EQ(n, scalar("SELECT count(*) FROM slot"));
  EXPECT_TRUE(impl_.clear("' OR '1'='1"));
  EXPECT_EQ(n - 1, scalar("SELECT count(*) FROM changer"));
}

// A slot is occupied when the element status saw a cartridge there, with
// or without a label; a load empties the home slot, an unload fills it, a
// transfer moves the occupancy with the tag.
TEST_P(Inventory_Database_Test, OccupancyFollowsElementStatusLoadsAndMoves) {
  make_library();
  auto occupied = [&](int slot) {
    Object s;
    EXPECT_TRUE(impl_.get_slot(changer_id_, slot, s)) << slot;
    return s["occupied"];
  };
  d2t::Media unlabelled = medium(4, "");
  unlabelled.state(d2t::MST_FULL);
  ASSERT_GT(impl_.add_slot(changer_id_, unlabelled), 0);
  d2t::Media t1 = medium(1, "T1");
  t1.state(d2t::MST_FULL);
  ASSERT_TRUE(impl_.update_slot(changer_id_, t1));
  EXPECT_EQ(Value(true), occupied(1));
  EXPECT_EQ(Value(false), occupied(2));
  EXPECT_EQ(Value(true), occupied(4));
  EXPECT_EQ(Value(true), slot_record(4)["occupied"]);  // what a transfer checks its target by

  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(1)));
  EXPECT_EQ(Value(false), occupied(1));
  EXPECT_EQ(Value(true), occupied(4));
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(0)));
  EXPECT_EQ(Value(true), occupied(1));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM drive WHERE slot_number IS NOT NULL"));

  ASSERT_TRUE(impl_.transfer(slot_record(1), slot_record(2)));
  EXPECT_EQ(Value(false), occupied(1));
  EXPECT_EQ(Value(true), occupied(2));
}

// Reset clears the device names of every changer and drive and nothing
// else, or changes nothing and fails.
TEST_P(Inventory_Database_Test, ResetIsAllOrNothingAtEveryFailurePoint) {
  make_library();
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), ACE_INT64(3)));
  const Object changer = row("changer", changer_id_), drive = row("drive", drive_id_);
  Object reset_changer = changer, reset_drive = drive;
  reset_changer["sg_name"] = reset_drive["sg_name"] = reset_drive["dev_name"] = Value::null;
  const int clean_run = walk_faults(
      [&] {
        ASSERT_TRUE(impl_.set_changer_name(changer_id_, "/dev/sg3"));
        ASSERT_TRUE(impl_.set_drive_name(drive_id_, "/dev/sg4", "/dev/nst0"));
      },
      [&] { return impl_.reset(); },
      [&](bool done) {
        EXPECT_EQ(done ? reset_changer : changer, row("changer", changer_id_));
        EXPECT_EQ(done ? reset_drive : drive, row("drive", drive_id_));
      });
  EXPECT_EQ(6, clean_run);  // connect, begin, two updates, commit
  EXPECT_TRUE(logs_.starts_with("Failed to begin transaction at "));
}

// Transfer moves the tag from one row to the other, or changes nothing
// and fails.
TEST_P(Inventory_Database_Test, TransferIsAllOrNothingAtEveryFailurePoint) {
  make_library();
  const Object from = slot_record(1), to = slot_record(2);
  const int clean_run = walk_faults(
      [&] {
        ASSERT_TRUE(impl_.set_media_tag(changer_id_, 1, "T1"));
        ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "")));
      },
      [&] { return impl_.transfer(from, to); },
      [&](bool done) {
        EXPECT_EQ(done ? Value() : Value("T1"), tag_of(slot_ids_[0]));
        EXPECT_EQ(done ? Value("T1") : Value(), tag_of(slot_ids_[1]));
        EXPECT_EQ(Value("T3"), tag_of(slot_ids_[2]));
      });
  EXPECT_EQ(6, clean_run);  // connect, begin, two updates, commit
  EXPECT_TRUE(logs_.starts_with("Failed to begin transaction at "));
  Object s;
  ASSERT_TRUE(impl_.get_slot("T1", s));
  EXPECT_EQ(Value(2), s["slot_number"]);
  // Moving a cartridge onto its own slot keeps it there.
  ASSERT_TRUE(impl_.transfer(slot_record(3), slot_record(3)));
  EXPECT_EQ(Value("T3"), tag_of(slot_ids_[2]));
}

// A malformed record never reaches the database; a row replaced since its
// record was read (a rescan gives slots new ids) must not leave the
// cartridge recorded in no slot or in two.
TEST_P(Inventory_Database_Test, MalformedOrVanishedRecordsChangeNothing) {
  make_library();
  const Object from = slot_record(1), to = slot_record(2);
  Object no_id = from, no_tag = from, null_tag = from, text_id = from, to_no_id = to;
  no_id.erase("media_id");
  no_tag.erase("media_tag");
  null_tag["media_tag"] = Value::null;  // the source slot is empty
  text_id["media_id"] = Value("12");
  to_no_id.erase("media_id");
  const std::pair<Object, Object> malformed[] = {{no_id, to},      {no_tag, to},
                                                 {null_tag, to},   {text_id, to},
                                                 {from, to_no_id}, {Object(), Object()}};
  for (const auto& c : malformed) {
    SCOPED_TRACE(json_spirit::JSON_Dump(c.first) + " -> " + json_spirit::JSON_Dump(c.second));
    logs_.clear();
    // Any database operation at all would fire this fault.
    manager()->set_fault_plan(Fault_Plan(1, Fault_Plan::ONCE,
                                         Fault_Plan::OP_EXECUTE | Fault_Plan::OP_QUERY |
                                             Fault_Plan::OP_BEGIN | Fault_Plan::OP_CONNECT));
    EXPECT_FALSE(impl_.transfer(c.first, c.second));
    EXPECT_EQ(0, manager()->faults_fired());
    manager()->clear_fault_plan();
    EXPECT_TRUE(logs_.starts_with("Transfer object exception: "));
  }
  Object gone_from = from, gone_to = to;
  gone_from["media_id"] = gone_to["media_id"] = Value(slot_ids_[2] + 1000);
  EXPECT_FALSE(impl_.transfer(from, gone_to));
  EXPECT_FALSE(impl_.transfer(gone_from, to));
  EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0]));
  EXPECT_TRUE(tag_of(slot_ids_[1]).is_null());
  EXPECT_EQ(1, scalar("SELECT count(*) FROM slot WHERE media_tag='T1'"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Database_Test, ::testing::Values(SQLITE, POSTGRESQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
