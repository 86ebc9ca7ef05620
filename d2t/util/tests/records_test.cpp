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

// Rows as databases give them: a NULL column leaves its field, numbers
// stand for booleans and states. Values that do not fit are refused.
TEST(Records_Json, DatabaseFormsAndBadValues) {
  Changer c;
  c.vendor("kept");
  ASSERT_TRUE(c.load_from_json(json(R"({"id":5,"vendor":null,"serial_number":"S"})")));
  EXPECT_EQ("kept", c.vendor());
  EXPECT_EQ("S", c.serial_number());
  Media m;
  ASSERT_TRUE(m.load_from_json(json(R"({"state":5,"is_porter":0})")));
  EXPECT_EQ(MST_FULL, m.state());
  EXPECT_FALSE(m.is_porter());

  // Not an object, a lun that is text, negative or wider than the field; a
  // state unknown by name or by number.
  for (const char* bad :
       {R"("row")", R"({"lun": "zero"})", R"({"lun": -1})", R"({"lun": 1099511627776})"})
    EXPECT_FALSE(c.load_from_json(json(bad))) << bad;
  for (const char* bad : {R"({"state": "sparkly"})", R"({"state": 11})"})
    EXPECT_FALSE(m.load_from_json(json(bad))) << bad;
}

}  // namespace
}  // namespace d2t
