// Changer and drive records, clear, reset and connection failures of the
// database inventory, on both engines.
#include "d2t/controller/tests/inventory_fixture.h"

namespace inventory_test {
namespace {

using database::sql::Fault_Plan;
using json_spirit::Object;
using json_spirit::Value;

class Inventory_Changer_Drive_Test : public Inventory_Test {
 protected:
  bool logged_connect_failure() {
    for (const std::string& l : logged()) {
      if (l.compare(0, 52, "Failed to connect to database 'media_controller' at ") == 0 &&
          l.find("tape_controller_database_impl.cpp:") != std::string::npos &&
          l.back() == '\n')
        return true;
    }
    return false;
  }
};

TEST_P(Inventory_Changer_Drive_Test, ChangerRowRoundTrip) {
  long long id = impl_.add_changer(changer_data("LIB1"));
  ASSERT_GT(id, 0);

  Object c;
  ASSERT_TRUE(impl_.get_changer("LIB1", c));
  EXPECT_EQ(8u, c.size());
  EXPECT_EQ(Value(id), c["id"]);
  EXPECT_EQ(Value("1:0:0"), c["target_name"]);
  EXPECT_EQ(Value(0), c["lun"]);
  EXPECT_EQ(Value("ACME"), c["vendor"]);
  EXPECT_EQ(Value("Lib-24"), c["model"]);
  EXPECT_EQ(Value("/dev/sg3"), c["sg_name"]);
  EXPECT_EQ(Value("physical"), c["type"]);
  EXPECT_EQ(Value("LIB1"), c["serial_number"]);

  EXPECT_TRUE(impl_.set_changer_name(id, "/dev/sg7"));
  EXPECT_TRUE(impl_.set_changer_type(id, "virtual"));
  EXPECT_EQ("virtual", impl_.get_changer_type(id));
  ASSERT_TRUE(impl_.get_changer("LIB1", c));
  EXPECT_EQ(Value("/dev/sg7"), c["sg_name"]);
}

TEST_P(Inventory_Changer_Drive_Test, LookupsThatFindNothingLeaveTheOutputAlone) {
  make_library();
  Object untouched;
  json_spirit::insert(untouched)("keep", 1);
  Object out = untouched;
  EXPECT_FALSE(impl_.get_changer("NOPE", out));
  EXPECT_FALSE(impl_.get_drive("NOPE", out));
  EXPECT_FALSE(impl_.get_drive(changer_id_, 5, out));
  EXPECT_FALSE(impl_.get_tape_device("NOPE", out));
  EXPECT_EQ(untouched, out);
  EXPECT_EQ("", impl_.get_changer_type(changer_id_ + 1000));
  // Nothing found is not a failure worth a log line.
  EXPECT_TRUE(logged().empty());
}

TEST_P(Inventory_Changer_Drive_Test, DriveRowRoundTrip) {
  make_library();
  Object d;
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  EXPECT_EQ(12u, d.size());
  EXPECT_EQ(Value(drive_id_), d["id"]);
  EXPECT_EQ(Value(changer_id_), d["changer_id"]);
  EXPECT_EQ(Value(0), d["drive_number"]);
  EXPECT_EQ(Value("/dev/nst0"), d["dev_name"]);
  EXPECT_TRUE(d["slot_number"].is_null());
  EXPECT_EQ(Value(0), d["failures"]);

  Object by_number;
  ASSERT_TRUE(impl_.get_drive(changer_id_, 0, by_number));
  EXPECT_EQ(d, by_number);

  EXPECT_TRUE(impl_.set_drive_name(drive_id_, "/dev/sg9", "/dev/nst5"));
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  EXPECT_EQ(Value("/dev/sg9"), d["sg_name"]);
  EXPECT_EQ(Value("/dev/nst5"), d["dev_name"]);

  EXPECT_TRUE(impl_.update_drive_failure("/dev/nst5", 2));
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  EXPECT_EQ(Value(2), d["failures"]);
}

TEST_P(Inventory_Changer_Drive_Test, DriveSlotByDeviceNameAndBySerial) {
  make_library();
  Object d;
  EXPECT_TRUE(impl_.set_drive_slot("/dev/nst0", Value(3)));
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  EXPECT_EQ(Value(3), d["slot_number"]);
  EXPECT_TRUE(impl_.set_drive_slot("/dev/nst0", Value::null));
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  EXPECT_TRUE(d["slot_number"].is_null());

  EXPECT_TRUE(impl_.set_drive_slot(std::string("DRV0"), static_cast<ACE_INT64>(5)));
  ASSERT_TRUE(impl_.get_drive("DRV0", d));
  EXPECT_EQ(Value(5), d["slot_number"]);
  for (ACE_INT64 none : {ACE_INT64(0), ACE_INT64(-1)}) {
    ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), static_cast<ACE_INT64>(5)));
    EXPECT_TRUE(impl_.set_drive_slot(std::string("DRV0"), none));
    ASSERT_TRUE(impl_.get_drive("DRV0", d));
    EXPECT_TRUE(d["slot_number"].is_null()) << none;
  }
}

TEST_P(Inventory_Changer_Drive_Test, TapeDeviceJoinsTheChangersDeviceName) {
  make_library();
  ASSERT_TRUE(impl_.set_drive_name(drive_id_, "/dev/sg-drive", "/dev/nst0"));
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), static_cast<ACE_INT64>(3)));
  ASSERT_TRUE(impl_.update_drive_failure("/dev/nst0", 1));

  Object dev;
  ASSERT_TRUE(impl_.get_tape_device("DRV0", dev));
  Object expected;
  json_spirit::insert(expected)("drive_id", drive_id_)("dev_name", "/dev/nst0")("slot_number", 3)(
      "drive_number", 0)("sg_name", "/dev/sg3")("changer_serial_number", "LIB1")(
      "changer_id", changer_id_)("failures", 1);
  EXPECT_EQ(expected, dev);

  // An empty drive reports a null slot.
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), static_cast<ACE_INT64>(0)));
  ASSERT_TRUE(impl_.get_tape_device("DRV0", dev));
  EXPECT_TRUE(dev["slot_number"].is_null());
}

TEST_P(Inventory_Changer_Drive_Test, ClearForgetsEveryRowOfThatSerial) {
  make_library();
  // Two rows with the same serial (the column is not unique) both go.
  long long twin = impl_.add_changer(changer_data("LIB1"));
  ASSERT_GT(twin, 0);
  ASSERT_GT(impl_.add_slot(slot_data(twin, 1, "Z1")), 0);
  long long other = impl_.add_changer(changer_data("LIB2"));

  EXPECT_TRUE(impl_.clear("LIB1"));
  Object c;
  EXPECT_FALSE(impl_.get_changer("LIB1", c));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM slot WHERE changer_id<>:id", other));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM drive WHERE changer_id<>:id", other));
  EXPECT_TRUE(impl_.get_changer("LIB2", c));
}

TEST_P(Inventory_Changer_Drive_Test, ResetClearsOnlyDeviceNames) {
  make_library();
  ASSERT_TRUE(impl_.set_drive_slot(std::string("DRV0"), static_cast<ACE_INT64>(3)));
  Object changer_before = row("changer", changer_id_);
  Object drive_before = row("drive", drive_id_);

  ASSERT_TRUE(impl_.reset());
  Object changer_after = row("changer", changer_id_);
  Object drive_after = row("drive", drive_id_);
  EXPECT_TRUE(changer_after["sg_name"].is_null());
  EXPECT_TRUE(drive_after["sg_name"].is_null());
  EXPECT_TRUE(drive_after["dev_name"].is_null());
  changer_before.erase("sg_name");
  changer_after.erase("sg_name");
  EXPECT_EQ(changer_before, changer_after);
  for (const char* k : {"sg_name", "dev_name"}) {
    drive_before.erase(k);
    drive_after.erase(k);
  }
  EXPECT_EQ(drive_before, drive_after);
}

// Every failure point of reset, one after the other: either everything is
// reset and true is returned, or nothing changed and false is returned.
TEST_P(Inventory_Changer_Drive_Test, ResetIsAllOrNothingAtEveryFailurePoint) {
  make_library();
  const int ops = Fault_Plan::OP_EXECUTE | Fault_Plan::OP_BEGIN | Fault_Plan::OP_COMMIT |
                  Fault_Plan::OP_CONNECT;
  int n = 1;
  for (;; ++n) {
    ASSERT_TRUE(impl_.set_changer_name(changer_id_, "/dev/sg3"));
    ASSERT_TRUE(impl_.set_drive_name(drive_id_, "/dev/sg4", "/dev/nst0"));
    manager()->set_fault_plan(Fault_Plan(n, Fault_Plan::ONCE, ops));
    bool ok = impl_.reset();
    int fired = manager()->faults_fired();
    manager()->clear_fault_plan();
    Object c = row("changer", changer_id_);
    Object d = row("drive", drive_id_);
    if (fired == 0) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(c["sg_name"].is_null());
      EXPECT_TRUE(d["dev_name"].is_null());
      break;
    }
    EXPECT_FALSE(ok) << "fault " << n;
    EXPECT_EQ(Value("/dev/sg3"), c["sg_name"]) << "fault " << n;
    EXPECT_EQ(Value("/dev/sg4"), d["sg_name"]) << "fault " << n;
    EXPECT_EQ(Value("/dev/nst0"), d["dev_name"]) << "fault " << n;
    ASSERT_LT(n, 20);
  }
  // connect, begin, two updates, commit.
  EXPECT_EQ(6, n);
  EXPECT_TRUE(logged_prefix("Failed to begin transaction at "));
}

TEST_P(Inventory_Changer_Drive_Test, UnreachableDatabaseIsLoggedAndFails) {
  make_library();
  make_unreachable();
  EXPECT_FALSE(impl_.open());
  EXPECT_TRUE(logged_connect_failure());

  Object out;
  json_spirit::insert(out)("keep", 1);
  Object before = out;
  EXPECT_EQ(-1, impl_.add_changer(changer_data("LIB9")));
  EXPECT_EQ(-1, impl_.add_drive(drive_data(changer_id_, 1, "D", "/dev/nst1")));
  EXPECT_FALSE(impl_.get_changer("LIB1", out));
  EXPECT_FALSE(impl_.get_drive("DRV0", out));
  EXPECT_FALSE(impl_.get_tape_device("DRV0", out));
  EXPECT_EQ(before, out);
  EXPECT_FALSE(impl_.set_drive_slot(std::string("DRV0"), static_cast<ACE_INT64>(1)));
  EXPECT_FALSE(impl_.update_drive_failure("/dev/nst0", 1));
  EXPECT_FALSE(impl_.reset());
  EXPECT_FALSE(impl_.clear("LIB1"));
  // A connect failure is not a refused insert.
  EXPECT_FALSE(logged_exactly("Failed to add changer\n"));

  capture_.clear();
  EXPECT_EQ("", impl_.get_changer_type(changer_id_));
  EXPECT_TRUE(logged_exactly("Failed to connect to database 'media_controller'\n"));
}

// Serial numbers and tags are data: quotes, semicolons and SQL text are
// stored and matched as they are and never run.
TEST_P(Inventory_Changer_Drive_Test, HostileTextIsStoredAsData) {
  const std::string hostile[] = {
      "LIB'1", "x'; DROP TABLE changer; --", "\"quoted\";", "' OR '1'='1", "a:serial_number",
      "back\\slash", "1); DELETE FROM drive WHERE (1=1"};
  std::vector<long long> ids;
  for (const std::string& s : hostile) {
    long long id = impl_.add_changer(changer_data(s));
    ASSERT_GT(id, 0) << s;
    ids.push_back(id);
    ASSERT_GT(impl_.add_drive(drive_data(id, 0, s, s)), 0) << s;
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    const std::string& s = hostile[i];
    Object c;
    ASSERT_TRUE(impl_.get_changer(s, c)) << s;
    EXPECT_EQ(Value(ids[i]), c["id"]) << s;
    EXPECT_EQ(Value(s), c["serial_number"]);
    Object d;
    ASSERT_TRUE(impl_.get_tape_device(s, d)) << s;
    EXPECT_EQ(Value(s), d["dev_name"]);
    EXPECT_TRUE(impl_.update_drive_failure(s, 2));
    ASSERT_TRUE(impl_.get_drive(s, d));
    EXPECT_EQ(Value(2), d["failures"]) << s;
  }
  // Only the exact text matches.
  Object c;
  EXPECT_FALSE(impl_.get_changer("anything' OR '1'='1", c));
  EXPECT_EQ(static_cast<long long>(ids.size()), scalar("SELECT count(*) FROM changer"));
  EXPECT_EQ(static_cast<long long>(ids.size()), scalar("SELECT count(*) FROM drive"));
  // Clearing one hostile serial removes that changer alone.
  EXPECT_TRUE(impl_.clear("' OR '1'='1"));
  EXPECT_EQ(static_cast<long long>(ids.size() - 1), scalar("SELECT count(*) FROM changer"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Changer_Drive_Test, ::testing::Values(SQLITE, PGSQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
