// The media_controller schema: declaration, factory, defaults, nullable
// columns, unique keys and cascading deletes, on both engines.
#include <cerrno>

#include "d2t/controller/tests/inventory_fixture.h"

namespace inventory_test {
namespace {

using json_spirit::Object;
using json_spirit::Value;

TEST(Media_Controller_Metadata_Factory, StoresDestroyerAndReturnsOwnedObject) {
  Media_Controller_Metadata_Gobbler gobble = nullptr;
  database::sql::Metadata* md = _make_Media_Controller_Metadata(&gobble);
  ASSERT_NE(nullptr, md);
  EXPECT_EQ("media_controller", md->name());
  ASSERT_EQ(&_gobble_Media_Controller_Metadata, gobble);
  gobble(md);

  // A null place for the destroyer is allowed.
  md = _make_Media_Controller_Metadata(nullptr);
  ASSERT_NE(nullptr, md);
  _gobble_Media_Controller_Metadata(md);
  _gobble_Media_Controller_Metadata(nullptr);
}

class Inventory_Schema_Test : public Inventory_Test {};

TEST_P(Inventory_Schema_Test, OmittedColumnsTakeTheirDeclaredDefaults) {
  Object changer = changer_data("LIB1");
  changer.erase("type");
  changer.erase("sg_name");
  long long changer_id = impl_.add_changer(changer);
  ASSERT_GT(changer_id, 0);
  Object c = row("changer", changer_id);
  EXPECT_EQ(Value(""), c["type"]);
  EXPECT_TRUE(c["sg_name"].is_null());

  Object drive = drive_data(changer_id, 0, "DRV0", "/dev/nst0");
  drive.erase("failures");
  drive.erase("dev_name");
  long long drive_id = impl_.add_drive(drive);
  ASSERT_GT(drive_id, 0);
  Object d = row("drive", drive_id);
  EXPECT_EQ(Value(0), d["failures"]);
  EXPECT_TRUE(d["slot_number"].is_null());
  EXPECT_TRUE(d["dev_name"].is_null());

  Object slot = slot_data(changer_id, 1, Value::null);
  slot.erase("is_porter");
  long long slot_id = impl_.add_slot(slot);
  ASSERT_GT(slot_id, 0);
  Object s;
  ASSERT_TRUE(impl_.get_slot(changer_id, 1, s));
  EXPECT_EQ(Value(false), s["is_porter"]);
  EXPECT_TRUE(s["media_tag"].is_null());
}

TEST_P(Inventory_Schema_Test, RequiredColumnsRefuseNull) {
  Object changer = changer_data("LIB1");
  changer.erase("serial_number");
  EXPECT_EQ(-1, impl_.add_changer(changer));
  EXPECT_TRUE(logged_exactly("Failed to add changer\n"));

  long long changer_id = impl_.add_changer(changer_data("LIB1"));
  Object drive = drive_data(changer_id, 0, "DRV0", "/dev/nst0");
  drive.erase("drive_number");
  EXPECT_EQ(-1, impl_.add_drive(drive));
  EXPECT_TRUE(logged_exactly("Failed to add drive\n"));

  // A drive or slot of a changer that does not exist is refused too.
  EXPECT_EQ(-1, impl_.add_drive(drive_data(changer_id + 1000, 0, "DRV0", "/dev/nst0")));
  EXPECT_EQ(-1, impl_.add_slot(slot_data(changer_id + 1000, 1, "T1")));
  EXPECT_TRUE(logged_exactly("Failed to add slot\n"));
}

TEST_P(Inventory_Schema_Test, DuplicateNumbersPerChangerAreRefused) {
  make_library();
  EXPECT_EQ(-1, impl_.add_drive(drive_data(changer_id_, 0, "OTHER", "/dev/nst9")));
  EXPECT_TRUE(logged_exactly("Failed to add drive\n"));
  EXPECT_EQ(-1, impl_.add_slot(slot_data(changer_id_, 1, "X1")));
  EXPECT_TRUE(logged_exactly("Failed to add slot\n"));

  // The original rows are untouched; the same numbers in another changer
  // are fine.
  Object d;
  ASSERT_TRUE(impl_.get_drive(changer_id_, 0, d));
  EXPECT_EQ(Value("DRV0"), d["serial_number"]);
  long long other = impl_.add_changer(changer_data("LIB2"));
  EXPECT_GT(impl_.add_drive(drive_data(other, 0, "DRV9", "/dev/nst9")), 0);
  EXPECT_GT(impl_.add_slot(slot_data(other, 1, "X1")), 0);
}

TEST_P(Inventory_Schema_Test, DeletingAChangerTakesItsDrivesAndSlots) {
  make_library();
  long long other = impl_.add_changer(changer_data("LIB2"));
  ASSERT_GT(impl_.add_drive(drive_data(other, 0, "DRV9", "/dev/nst9")), 0);
  ASSERT_GT(impl_.add_slot(slot_data(other, 1, "X1")), 0);

  ASSERT_TRUE(impl_.clear("LIB1"));
  Object c;
  EXPECT_FALSE(impl_.get_changer("LIB1", c));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM drive WHERE changer_id=:id", changer_id_));
  EXPECT_EQ(0, scalar("SELECT count(*) FROM slot WHERE changer_id=:id", changer_id_));
  // The other library keeps its rows.
  EXPECT_EQ(1, scalar("SELECT count(*) FROM drive WHERE changer_id=:id", other));
  EXPECT_EQ(1, scalar("SELECT count(*) FROM slot WHERE changer_id=:id", other));
}

TEST_P(Inventory_Schema_Test, ChangingAChangerIdCarriesOverToItsRows) {
  make_library();
  database::sql::Update_SQL u("changer");
  u.set("id", changer_id_ + 500, nullptr).where("id=:id").bind(":id", changer_id_);
  ASSERT_TRUE(connection()->execute(u)) << connection()->last_error();
  EXPECT_EQ(1, scalar("SELECT count(*) FROM drive WHERE changer_id=:id", changer_id_ + 500));
  EXPECT_EQ(3, scalar("SELECT count(*) FROM slot WHERE changer_id=:id", changer_id_ + 500));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Schema_Test, ::testing::Values(SQLITE, PGSQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
