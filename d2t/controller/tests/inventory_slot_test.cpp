// Slot records and transfer of the database inventory, on both engines.
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

class Inventory_Slot_Test : public Inventory_Test {
 protected:
  Value tag_of(long long slot_id) { return row("slot", slot_id)["media_tag"]; }

  // The transfer record of a slot of LIB1.
  Object slot_record(int slot) {
    Object r;
    EXPECT_TRUE(impl_.get_slot("LIB1", slot, r)) << slot;
    return r;
  }
};

TEST_P(Inventory_Slot_Test, AddSlotFromMediumStoresNullForAnEmptyTag) {
  long long changer = impl_.add_changer(changer_data("LIB1"));
  long long empty = impl_.add_slot(changer, medium(1, ""));
  long long full = impl_.add_slot(changer, medium(2, "T2", true));
  ASSERT_GT(empty, 0);
  ASSERT_GT(full, 0);
  EXPECT_TRUE(tag_of(empty).is_null());
  EXPECT_EQ(Value("T2"), tag_of(full));

  EXPECT_EQ(-1, impl_.add_slot(changer, medium(2, "OTHER")));
  EXPECT_TRUE(logged_exactly("Failed to add slot\n"));
  EXPECT_EQ(Value("T2"), tag_of(full));
}

TEST_P(Inventory_Slot_Test, SlotReadsGivePorterAsBoolean) {
  long long changer = impl_.add_changer(changer_data("LIB1"));
  ASSERT_GT(impl_.add_slot(changer, medium(1, "T1")), 0);
  ASSERT_GT(impl_.add_slot(changer, medium(2, "", true)), 0);
  ASSERT_GT(impl_.add_slot(slot_data(changer, 3, "T3", true)), 0);

  Array slots;
  ASSERT_TRUE(impl_.get_slots(changer, slots));
  ASSERT_EQ(3u, slots.size());
  int porters = 0;
  for (const Value& v : slots) {
    const Object& s = v.get_obj();
    EXPECT_EQ(5u, s.size());
    ASSERT_EQ(json_spirit::bool_type, s.at("is_porter").type());
    if (s.at("is_porter").get_bool()) ++porters;
    EXPECT_EQ(json_spirit::int_type, s.at("slot_number").type());
    EXPECT_EQ(Value(changer), s.at("changer_id"));
  }
  EXPECT_EQ(2, porters);

  Object s;
  ASSERT_TRUE(impl_.get_slot("T3", s));
  EXPECT_EQ(Value(true), s["is_porter"]);
  ASSERT_TRUE(impl_.get_slot(changer, 1, s));
  EXPECT_EQ(Value(false), s["is_porter"]);
  EXPECT_EQ(Value("T1"), s["media_tag"]);
  ASSERT_TRUE(impl_.get_slot("LIB1", 2, s));
  EXPECT_EQ(Value(true), s["is_porter"]);
}

TEST_P(Inventory_Slot_Test, GetSlotsReplacesTheArrayOrLeavesItAlone) {
  make_library();
  Array slots(1, Value("stale"));
  ASSERT_TRUE(impl_.get_slots(changer_id_, slots));
  EXPECT_EQ(3u, slots.size());

  // A changer without slot rows gives an empty list.
  long long bare = impl_.add_changer(changer_data("LIB2"));
  ASSERT_TRUE(impl_.get_slots(bare, slots));
  EXPECT_TRUE(slots.empty());

  // A failed read leaves it alone.
  Array kept(1, Value("kept"));
  manager()->set_fault_plan(Fault_Plan(1, Fault_Plan::ONCE, Fault_Plan::OP_QUERY));
  EXPECT_FALSE(impl_.get_slots(changer_id_, kept));
  EXPECT_EQ(Array(1, Value("kept")), kept);
}

TEST_P(Inventory_Slot_Test, SingleSlotLookups) {
  make_library();
  Object s;
  ASSERT_TRUE(impl_.get_slot("T3", s));
  Object expected;
  json_spirit::insert(expected)("id", slot_ids_[2])("changer_id", changer_id_)("slot_number", 3)(
      "media_tag", "T3")("is_porter", false);
  EXPECT_EQ(expected, s);

  ASSERT_TRUE(impl_.get_slot(changer_id_, 2, s));
  EXPECT_EQ(Value(slot_ids_[1]), s["id"]);
  EXPECT_TRUE(s["media_tag"].is_null());

  Object transfer_record;
  ASSERT_TRUE(impl_.get_slot("LIB1", 1, transfer_record));
  Object expected_record;
  json_spirit::insert(expected_record)("media_id", slot_ids_[0])("sg_name", "/dev/sg3")(
      "media_tag", "T1")("slot_number", 1)("is_porter", false);
  EXPECT_EQ(expected_record, transfer_record);

  Object untouched;
  json_spirit::insert(untouched)("keep", true);
  Object out = untouched;
  EXPECT_FALSE(impl_.get_slot("NO-SUCH-TAG", out));
  EXPECT_FALSE(impl_.get_slot(changer_id_, 99, out));
  EXPECT_FALSE(impl_.get_slot("LIB1", 99, out));
  EXPECT_FALSE(impl_.get_slot("NO-SUCH-LIB", 1, out));
  EXPECT_EQ(untouched, out);
}

TEST_P(Inventory_Slot_Test, EmptyMeansNullNotEmptyText) {
  make_library();
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 1));
  EXPECT_TRUE(impl_.slot_empty(changer_id_, 2));
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 99));
  EXPECT_EQ(2, impl_.get_empty_slot(changer_id_));

  // set_media_tag stores text as it is, so "" is not empty.
  ASSERT_TRUE(impl_.set_media_tag(changer_id_, 2, ""));
  EXPECT_EQ(Value(""), tag_of(slot_ids_[1]));
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 2));
  EXPECT_EQ(-1, impl_.get_empty_slot(changer_id_));

  // update_slot turns an empty tag back into NULL.
  ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "", true)));
  EXPECT_TRUE(tag_of(slot_ids_[1]).is_null());
  EXPECT_TRUE(impl_.slot_empty(changer_id_, 2));
  Object s;
  ASSERT_TRUE(impl_.get_slot(changer_id_, 2, s));
  EXPECT_EQ(Value(true), s["is_porter"]);

  ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "T2", false)));
  ASSERT_TRUE(impl_.get_slot("T2", s));
  EXPECT_EQ(Value(2), s["slot_number"]);
  EXPECT_EQ(Value(false), s["is_porter"]);
  EXPECT_EQ(-1, impl_.get_empty_slot(changer_id_));
}

TEST_P(Inventory_Slot_Test, TransferMovesTheTag) {
  make_library();
  ASSERT_TRUE(impl_.transfer(slot_record(1), slot_record(2)));
  EXPECT_TRUE(tag_of(slot_ids_[0]).is_null());
  EXPECT_EQ(Value("T1"), tag_of(slot_ids_[1]));
  EXPECT_EQ(Value("T3"), tag_of(slot_ids_[2]));
  Object s;
  ASSERT_TRUE(impl_.get_slot("T1", s));
  EXPECT_EQ(Value(2), s["slot_number"]);

  // Moving a cartridge onto its own slot keeps it there.
  ASSERT_TRUE(impl_.transfer(slot_record(3), slot_record(3)));
  EXPECT_EQ(Value("T3"), tag_of(slot_ids_[2]));
}

// Every failure point of transfer: either the tag moved and true was
// returned, or both rows are as they were and false was returned.
TEST_P(Inventory_Slot_Test, TransferIsAllOrNothingAtEveryFailurePoint) {
  make_library();
  const Object from = slot_record(1);
  const Object to = slot_record(2);
  const int ops = Fault_Plan::OP_EXECUTE | Fault_Plan::OP_BEGIN | Fault_Plan::OP_COMMIT |
                  Fault_Plan::OP_CONNECT;
  int n = 1;
  for (;; ++n) {
    ASSERT_TRUE(impl_.set_media_tag(changer_id_, 1, "T1"));
    ASSERT_TRUE(impl_.update_slot(changer_id_, medium(2, "")));
    manager()->set_fault_plan(Fault_Plan(n, Fault_Plan::ONCE, ops));
    bool ok = impl_.transfer(from, to);
    int fired = manager()->faults_fired();
    manager()->clear_fault_plan();
    if (fired == 0) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(tag_of(slot_ids_[0]).is_null());
      EXPECT_EQ(Value("T1"), tag_of(slot_ids_[1]));
      break;
    }
    EXPECT_FALSE(ok) << "fault " << n;
    EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0])) << "fault " << n;
    EXPECT_TRUE(tag_of(slot_ids_[1]).is_null()) << "fault " << n;
    ASSERT_LT(n, 20);
  }
  EXPECT_EQ(6, n);  // connect, begin, two updates, commit
  EXPECT_TRUE(logged_prefix("Failed to begin transaction at "));
}

TEST_P(Inventory_Slot_Test, MalformedTransferRecordsNeverReachTheDatabase) {
  make_library();
  const Object good_from = slot_record(1);
  const Object good_to = slot_record(2);
  std::vector<std::pair<Object, Object>> cases;
  Object no_id = good_from;
  no_id.erase("media_id");
  cases.emplace_back(no_id, good_to);
  Object no_tag = good_from;
  no_tag.erase("media_tag");
  cases.emplace_back(no_tag, good_to);
  Object null_tag = good_from;
  null_tag["media_tag"] = Value::null;  // the source slot is empty
  cases.emplace_back(null_tag, good_to);
  Object text_id = good_from;
  text_id["media_id"] = Value("12");
  cases.emplace_back(text_id, good_to);
  Object to_no_id = good_to;
  to_no_id.erase("media_id");
  cases.emplace_back(good_from, to_no_id);
  cases.emplace_back(Object(), Object());

  for (size_t i = 0; i < cases.size(); ++i) {
    capture_.clear();
    // Any database operation at all would fire this fault.
    manager()->set_fault_plan(Fault_Plan(1, Fault_Plan::ONCE, Fault_Plan::OP_EXECUTE |
                                                                  Fault_Plan::OP_QUERY |
                                                                  Fault_Plan::OP_BEGIN |
                                                                  Fault_Plan::OP_CONNECT));
    EXPECT_FALSE(impl_.transfer(cases[i].first, cases[i].second)) << i;
    EXPECT_EQ(0, manager()->faults_fired()) << i;
    manager()->clear_fault_plan();
    EXPECT_TRUE(logged_prefix("Transfer object exception: ")) << i;
    EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0])) << i;
    EXPECT_TRUE(tag_of(slot_ids_[1]).is_null()) << i;
  }
}

// A slot row replaced since its record was read (a rescan gives slots new
// ids) must not leave the cartridge recorded in no slot or in two.
TEST_P(Inventory_Slot_Test, TransferToOrFromAVanishedRowChangesNothing) {
  make_library();
  Object from = slot_record(1);
  Object to = slot_record(2);
  Object gone_to = to;
  gone_to["media_id"] = Value(slot_ids_[2] + 1000);
  EXPECT_FALSE(impl_.transfer(from, gone_to));
  EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0]));

  Object gone_from = from;
  gone_from["media_id"] = Value(slot_ids_[2] + 1000);
  EXPECT_FALSE(impl_.transfer(gone_from, to));
  EXPECT_TRUE(tag_of(slot_ids_[1]).is_null());
  EXPECT_EQ(1, scalar("SELECT count(*) FROM slot WHERE media_tag='T1' AND id=:id", slot_ids_[0]));
}

// Without a connection every slot operation gives its failure value, logs
// the connection failure and leaves its output as it was.
TEST_P(Inventory_Slot_Test, UnreachableDatabaseFailsEverySlotOperation) {
  make_library();
  const Object from = slot_record(1);
  const Object to = slot_record(2);
  make_unreachable();

  EXPECT_EQ(-1, impl_.add_slot(slot_data(changer_id_, 7, "T7")));
  EXPECT_EQ(-1, impl_.add_slot(changer_id_, medium(8, "T8")));
  Array slots(1, Value("kept"));
  EXPECT_FALSE(impl_.get_slots(changer_id_, slots));
  EXPECT_EQ(Array(1, Value("kept")), slots);
  Object out;
  json_spirit::insert(out)("keep", 1);
  const Object before = out;
  EXPECT_FALSE(impl_.get_slot("T1", out));
  EXPECT_FALSE(impl_.get_slot(changer_id_, 1, out));
  EXPECT_FALSE(impl_.get_slot("LIB1", 1, out));
  EXPECT_EQ(before, out);
  EXPECT_FALSE(impl_.slot_empty(changer_id_, 2));
  EXPECT_EQ(-1, impl_.get_empty_slot(changer_id_));
  EXPECT_FALSE(impl_.set_media_tag(changer_id_, 2, "T2"));
  EXPECT_FALSE(impl_.update_slot(changer_id_, medium(2, "T2")));
  EXPECT_FALSE(impl_.transfer(from, to));

  EXPECT_TRUE(logged_prefix("Failed to connect to database 'media_controller' at "));
  // A connection failure is neither a refused insert nor a bad record.
  EXPECT_FALSE(logged_exactly("Failed to add slot\n"));
  EXPECT_FALSE(logged_prefix("Transfer object exception: "));

  // Nothing reached the database.
  ASSERT_TRUE(manager()->configure(url_));
  EXPECT_EQ(Value("T1"), tag_of(slot_ids_[0]));
  EXPECT_TRUE(tag_of(slot_ids_[1]).is_null());
  EXPECT_EQ(3, scalar("SELECT count(*) FROM slot"));
}

TEST_P(Inventory_Slot_Test, HostileTagsAreStoredAsData) {
  long long changer = impl_.add_changer(changer_data("LIB'; DROP TABLE slot; --"));
  ASSERT_GT(changer, 0);
  const std::string tags[] = {"T'1", "'; DELETE FROM slot; --", "\";--", "x' OR 'x'='x"};
  int n = 0;
  for (const std::string& t : tags) ASSERT_GT(impl_.add_slot(changer, medium(++n, t)), 0) << t;
  ASSERT_GT(impl_.add_slot(changer, medium(++n, "")), 0);

  for (const std::string& t : tags) {
    Object s;
    ASSERT_TRUE(impl_.get_slot(t, s)) << t;
    EXPECT_EQ(Value(t), s["media_tag"]);
  }
  Object rec;
  ASSERT_TRUE(impl_.get_slot("LIB'; DROP TABLE slot; --", 2, rec));
  Object to;
  ASSERT_TRUE(impl_.get_slot("LIB'; DROP TABLE slot; --", n, to));
  ASSERT_TRUE(impl_.transfer(rec, to));
  Object s;
  ASSERT_TRUE(impl_.get_slot(changer, n, s));
  EXPECT_EQ(Value(tags[1]), s["media_tag"]);
  EXPECT_EQ(static_cast<long long>(n), scalar("SELECT count(*) FROM slot"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Slot_Test, ::testing::Values(SQLITE, PGSQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
