#include <gtest/gtest.h>

#include "d2t/util/changer.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

namespace d2t {
namespace {

// A stored name reads back as its state; names are the library's choice.
TEST(Media_State_Names, RoundTripAndUnknown) {
  for (int i = 0; i <= MST_RETRIEVED; ++i) {
    auto s = static_cast<Media_State>(i);
    Media_State back = MST_EMPTY;
    ASSERT_TRUE(media_state_from_name(media_state_to_name(s), back)) << i;
    EXPECT_EQ(s, back);
  }
  EXPECT_STREQ("invalid", media_state_to_name(static_cast<Media_State>(10)));
  EXPECT_STREQ("invalid", media_state_to_name(static_cast<Media_State>(-1)));
  Media_State s = MST_CLEAN;
  EXPECT_FALSE(media_state_from_name("Full", s));
  EXPECT_FALSE(media_state_from_name("", s));
  EXPECT_EQ(MST_CLEAN, s);
}

// `text` parsed as JSON.
json_spirit::Value json(const std::string& text) {
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::read(text, v)) << text;
  return v;
}

// `row` read into a record and written back, into an object whose other
// keys are kept.
template <typename Record>
void expect_round_trip(const std::string& row) {
  SCOPED_TRACE(row);
  Record r;
  ASSERT_TRUE(r.load_from_json(json(row)));
  json_spirit::Object o;
  o["zz_other"] = 1;
  ASSERT_TRUE(r.to_json(o));
  EXPECT_EQ(row.substr(0, row.size() - 1) + R"(,"zz_other":1})", json_spirit::JSON_Dump(o));
}

TEST(Records_Json, InventoryRowsRoundTrip) {
  expect_round_trip<Changer>(
      R"({"id":12,"lun":2,"model":"M","serial_number":"LIB1","sg_name":"/dev/sg4",)"
      R"("target_name":"3:0:0","type":"physical","vendor":"V"})");
  expect_round_trip<Media>(
      R"({"block_size":4,"capacity":18000000000000,"changer_id":1,"files":6,"id":2,"is_porter":true,)"
      R"("label":"L","last_write_time":8,"media_pool_uuid":"P","media_tag":"A00009L7",)"
      R"("slot_number":9,"state":"blank","used":5,"used_times":7})");
  expect_round_trip<Drive>(
      R"({"changer_id":1,"dev_name":"/dev/st0","drive_number":2,"faulty":true,"id":3,)"
      R"("last_use_time":5,"lun":1,"max_block":8388608,"media_id":7,"media_pool_uuid":"P",)"
      R"("media_tag":"T","min_block":1,"model":"M","serial_number":"D1","sg_name":"/dev/sg4",)"
      R"("slot_number":-1,"target_name":"1:0:1","vendor":"V"})");
}

TEST(Changer_Json, NullColumnsAndBadValues) {
  json_spirit::Object row;
  row["id"] = 5;
  row["vendor"] = json_spirit::Value();  // NULL column
  row["serial_number"] = "S";
  Changer c;
  c.vendor("kept");
  ASSERT_TRUE(c.load_from_json(json_spirit::Value(row)));
  EXPECT_EQ("kept", c.vendor());
  EXPECT_EQ("S", c.serial_number());

  // Not an object, a lun that is text, negative or wider than the field.
  for (const char* bad :
       {R"("row")", R"({"lun": "zero"})", R"({"lun": -1})", R"({"lun": 1099511627776})"})
    EXPECT_FALSE(c.load_from_json(json(bad))) << bad;
}

// Databases without a boolean type give numbers; a state is read by number
// too.
TEST(Media_Json, StateAndPorterByNumber) {
  Media back;
  json_spirit::Object numeric;
  numeric["state"] = 5;
  numeric["is_porter"] = 0;
  ASSERT_TRUE(back.load_from_json(json_spirit::Value(numeric)));
  EXPECT_EQ(MST_FULL, back.state());
  EXPECT_FALSE(back.is_porter());
  numeric["state"] = "sparkly";
  EXPECT_FALSE(back.load_from_json(json_spirit::Value(numeric)));
  numeric["state"] = 11;
  EXPECT_FALSE(back.load_from_json(json_spirit::Value(numeric)));
}

}  // namespace
}  // namespace d2t
