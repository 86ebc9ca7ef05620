#include <gtest/gtest.h>

#include "d2t/util/changer.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"

namespace d2t {
namespace {

TEST(Media_State_Names, RoundTripAndUnknown) {
  const char* names[] = {"empty", "unknown", "clean",   "blank",   "current",
                         "full",  "expired", "retired", "offline", "retrieved"};
  for (int i = 0; i <= MST_RETRIEVED; ++i) {
    auto s = static_cast<Media_State>(i);
    EXPECT_STREQ(names[i], media_state_to_name(s));
    Media_State back = MST_EMPTY;
    ASSERT_TRUE(media_state_from_name(names[i], back));
    EXPECT_EQ(s, back);
  }
  EXPECT_STREQ("invalid", media_state_to_name(static_cast<Media_State>(10)));
  EXPECT_STREQ("invalid", media_state_to_name(static_cast<Media_State>(-1)));
  Media_State s = MST_CLEAN;
  EXPECT_FALSE(media_state_from_name("Full", s));
  EXPECT_FALSE(media_state_from_name("", s));
  EXPECT_EQ(MST_CLEAN, s);
}

TEST(No_Rewind_Device, StNamesOnly) {
  Drive d;
  const std::pair<const char*, const char*> cases[] = {
      {"/dev/st0", "/dev/nst0"},
      {"/dev/st12", "/dev/nst12"},
      {"/dev/st0a", "/dev/nst0a"},
      {"/tmp/x/st3", "/tmp/x/nst3"},
      {"st4", "nst4"},
      {"/dev/nst0", "/dev/nst0"},
      {"/dev/sg3", "/dev/sg3"},
      {"/dev/st", "/dev/st"},
      {"/dev/stx", "/dev/stx"},
      {"/dev/st0ab", "/dev/st0ab"},
      {"/dev/tape/by-id/st0", "/dev/tape/by-id/nst0"},
      {"", ""},
  };
  for (const auto& c : cases) {
    d.dev_name(c.first);
    EXPECT_EQ(c.second, d.no_rewind_device()) << c.first;
  }
}

TEST(Records, InitResetsEveryField) {
  Drive d;
  d.id(2);
  d.slot_number(4);
  d.media_tag("A00001L9");
  d.faulty(true);
  d.init();
  EXPECT_EQ(0, d.id());
  EXPECT_EQ(0, d.slot_number());
  EXPECT_TRUE(d.media_tag().empty());
  EXPECT_FALSE(d.faulty());

  Changer c;
  c.add_drive(Drive_var(new Drive));
  c.add_media(Media_var(new Media));
  c.id(3);
  c.init();
  EXPECT_EQ(0, c.id());
  EXPECT_TRUE(c.drives().empty());
  EXPECT_TRUE(c.medias().empty());
}

TEST(Changer_Json, RoundTripsAnInventoryRow) {
  Changer c;
  c.id(12);
  c.serial_number("LIB1");
  c.target_name("3:0:0");
  c.lun(2);
  c.vendor("V");
  c.model("M");
  c.sg_name("/dev/sg4");
  c.type("physical");
  json_spirit::Object o;
  o["other"] = 1;
  ASSERT_TRUE(c.to_json(o));
  for (const char* k :
       {"serial_number", "target_name", "lun", "vendor", "model", "sg_name", "type"})
    EXPECT_TRUE(o.count(k)) << k;
  EXPECT_EQ(1, o["other"].get_int());  // other keys are kept

  Changer back;
  ASSERT_TRUE(back.load_from_json(json_spirit::Value(o)));
  EXPECT_EQ(12, back.id());
  EXPECT_EQ("LIB1", back.serial_number());
  EXPECT_EQ(2u, back.lun());
  EXPECT_EQ("/dev/sg4", back.sg_name());
  EXPECT_EQ("physical", back.type());
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

  EXPECT_FALSE(c.load_from_json(json_spirit::Value("not an object")));
  json_spirit::Object bad;
  bad["lun"] = "zero";
  EXPECT_FALSE(c.load_from_json(json_spirit::Value(bad)));
  json_spirit::Object negative;
  negative["lun"] = -1;  // does not fit an unsigned lun
  EXPECT_FALSE(c.load_from_json(json_spirit::Value(negative)));
  json_spirit::Object huge;
  huge["lun"] = static_cast<std::int64_t>(1) << 40;
  EXPECT_FALSE(c.load_from_json(json_spirit::Value(huge)));
}

TEST(Media_Json, StateByNameOrNumber) {
  Media m;
  m.slot_number(9);
  m.media_tag("A00009L7");
  m.state(MST_BLANK);
  m.capacity(18000000000000ULL);
  m.is_porter(true);
  json_spirit::Object o;
  ASSERT_TRUE(m.to_json(o));
  EXPECT_EQ("blank", o["state"].get_str());

  Media back;
  ASSERT_TRUE(back.load_from_json(json_spirit::Value(o)));
  EXPECT_EQ(9, back.slot_number());
  EXPECT_EQ(MST_BLANK, back.state());
  EXPECT_EQ(18000000000000ULL, back.capacity());
  EXPECT_TRUE(back.is_porter());

  json_spirit::Object numeric;
  numeric["state"] = 5;
  numeric["is_porter"] = 0;  // databases without a boolean type
  ASSERT_TRUE(back.load_from_json(json_spirit::Value(numeric)));
  EXPECT_EQ(MST_FULL, back.state());
  EXPECT_FALSE(back.is_porter());
  numeric["state"] = "sparkly";
  EXPECT_FALSE(back.load_from_json(json_spirit::Value(numeric)));
  numeric["state"] = 11;
  EXPECT_FALSE(back.load_from_json(json_spirit::Value(numeric)));
}

TEST(Drive_Json, RoundTrip) {
  Drive d;
  d.id(3);
  d.changer_id(1);
  d.serial_number("D1");
  d.drive_number(2);
  d.dev_name("/dev/st0");
  d.slot_number(-1);
  d.max_block(8388608);
  d.faulty(true);
  json_spirit::Object o;
  ASSERT_TRUE(d.to_json(o));
  Drive back;
  ASSERT_TRUE(back.load_from_json(json_spirit::Value(o)));
  EXPECT_EQ(3, back.id());
  EXPECT_EQ(2u, back.drive_number());
  EXPECT_EQ(-1, back.slot_number());
  EXPECT_EQ(8388608u, back.max_block());
  EXPECT_TRUE(back.faulty());
  EXPECT_EQ("/dev/st0", back.dev_name());
}

}  // namespace
}  // namespace d2t
