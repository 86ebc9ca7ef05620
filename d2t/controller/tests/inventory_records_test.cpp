// The changer, drive and slot records of the database inventory: unique
// numbers, cascades, empty tags, porter flags and hostile text, on both
// engines.
#include <algorithm>

#include "d2t/controller/tests/inventory_fixture.h"
#include "d2t/util/media.h"

namespace inventory_test {
namespace {

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

class Inventory_Records_Test : public Inventory_Test {};

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
