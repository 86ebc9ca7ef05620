// The database inventory on both engines: unique numbers, cascades, empty
// tags, porter flags and hostile text; reset and transfer all or nothing
// under injected faults and malformed records; many threads at once.
#include <algorithm>
#include <thread>

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

TEST_P(Inventory_Database_Test, DuplicatesAreRefusedAndChangerChangesCascade) {
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
  ASSERT_GT(impl_.add_slot(changer_id_, medium(5, "T5", true)), 0);
  ASSERT_GT(impl_.add_slot(slot_data(changer_id_, 6, "T6", true)), 0);

  Array slots;
  ASSERT_TRUE(impl_.get_slots(changer_id_, slots));
  ASSERT_EQ(6u, slots.size());
  std::vector<int> porters;
  for (const Value& v : slots) {
    const Object& s = v.get_obj();
    EXPECT_EQ(6u, s.size());
    ASSERT_EQ(json_spirit::bool_type, s.at("is_porter").type());
    ASSERT_EQ(json_spirit::bool_type, s.at("occupied").type());
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
  auto without = [](Object o, std::initializer_list<const char*> keys) {
    for (const char* k : keys) o.erase(k);
    return o;
  };
  const int clean_run = walk_faults(
      [&] {
        ASSERT_TRUE(impl_.set_changer_name(changer_id_, "/dev/sg3"));
        ASSERT_TRUE(impl_.set_drive_name(drive_id_, "/dev/sg4", "/dev/nst0"));
      },
      [&] { return impl_.reset(); },
      [&](bool done) {
        Object c = row("changer", changer_id_), d = row("drive", drive_id_);
        if (!done) {
          EXPECT_EQ(changer, c);
          EXPECT_EQ(drive, d);
          return;
        }
        EXPECT_TRUE(c["sg_name"].is_null());
        EXPECT_TRUE(d["sg_name"].is_null());
        EXPECT_TRUE(d["dev_name"].is_null());
        EXPECT_EQ(without(changer, {"sg_name"}), without(c, {"sg_name"}));
        EXPECT_EQ(without(drive, {"sg_name", "dev_name"}), without(d, {"sg_name", "dev_name"}));
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

// Threads each walk a cartridge of their own library from slot to slot,
// with drive updates and resets that touch every row of every library in
// between: every operation succeeds (no "database is locked"), nothing is
// logged and no update is lost.
TEST_P(Inventory_Database_Test, ConcurrentWritersAndReadersAllSucceedAndLoseNothing) {
  const int THREADS = 8, SLOTS = 10, ROUNDS = 20;
  auto work = [&](int t) {
    logs_.attach_this_thread();
    auto check = [t](bool ok, const char* what) {
      if (!ok) ADD_FAILURE() << "thread " << t << ": " << what;
    };
    const std::string serial = "LIB" + std::to_string(t), drive = "DRV" + std::to_string(t);
    const std::string dev = "/dev/nst" + std::to_string(t);
    const long long changer = impl_.add_changer(changer_data(serial));
    check(changer > 0, "add_changer");
    const long long drive_id = impl_.add_drive(drive_data(changer, 0, drive, dev));
    check(drive_id > 0, "add_drive");
    for (int s = 1; s <= SLOTS; ++s) {
      check(impl_.add_slot(slot_data(changer, s, s == 1 ? Value(serial + "-T") : Value())) > 0,
            "add_slot");
    }
    for (int round = 0; round < ROUNDS; ++round) {
      const int from = round % SLOTS + 1, to = from % SLOTS + 1;
      Object from_rec, to_rec, d;
      Array slots;
      check(impl_.get_slot(serial, from, from_rec) && impl_.get_slot(serial, to, to_rec),
            "get_slot");
      check(impl_.transfer(from_rec, to_rec), "transfer");
      check(impl_.set_drive_name(drive_id, "/dev/sg" + std::to_string(t), dev), "set_drive_name");
      check(impl_.update_drive_failure(dev, round + 1), "update_drive_failure");
      // Keyed by serial: unlike the device name, no reset clears it.
      check(impl_.set_drive_slot(drive, ACE_INT64(to)), "set_drive_slot");
      check(impl_.get_tape_device(drive, d), "get_tape_device");
      check(impl_.get_slots(changer, slots) && slots.size() == SLOTS, "get_slots");
      if (round % 5 == t % 5) check(impl_.reset(), "reset");
    }
    logs_.detach_this_thread();
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) threads.emplace_back(work, t);
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(std::vector<std::string>(), logs_.lines());
  // Each cartridge is where the last transfer put it, and its drive shows
  // that slot. (The failure count is keyed by device name, which another
  // thread's reset may have cleared at that moment, so it is not checked.)
  const int final_slot = ((ROUNDS - 1) % SLOTS + 1) % SLOTS + 1;
  for (int t = 0; t < THREADS; ++t) {
    const std::string serial = "LIB" + std::to_string(t);
    SCOPED_TRACE(serial);
    Object changer, s, d;
    ASSERT_TRUE(impl_.get_changer(serial, changer));
    EXPECT_EQ(1, scalar("SELECT count(*) FROM slot WHERE media_tag IS NOT NULL AND changer_id=:id",
                        changer["id"].get_int64()));
    ASSERT_TRUE(impl_.get_slot(serial + "-T", s));
    EXPECT_EQ(Value(final_slot), s["slot_number"]);
    ASSERT_TRUE(impl_.get_drive("DRV" + std::to_string(t), d));
    EXPECT_EQ(Value(final_slot), d["slot_number"]);
  }
  EXPECT_EQ(THREADS * SLOTS, scalar("SELECT count(*) FROM slot"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Database_Test, ::testing::Values(SQLITE, PGSQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
