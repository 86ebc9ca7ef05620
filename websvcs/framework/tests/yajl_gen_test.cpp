#include "websvcs/framework/yajl_gen.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(YAJL_Gen, WritesNestedDocumentThroughGuards) {
  YAJL_Gen g;
  {
    YAJL_Array_Guard a(g);
    {
      YAJL_Map_Guard m(g);
      const char key[] = "slot_numberXXX";
      g << YAJL_Gen::Str(key, 11) << 7;
      g << "state" << std::string("full");
      g << "is_porter" << false;
      g << "capacity" << static_cast<unsigned long>(ULONG_MAX);
      g << "lun" << 3u;
      g << "offset" << -5L;
      g << "none" << nullptr;
    }
    YAJL_Array_Guard empty(g);
  }
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(
      "[{\"slot_number\":7,\"state\":\"full\",\"is_porter\":false,"
      "\"capacity\":18446744073709551615,\"lun\":3,\"offset\":-5,\"none\":null},[]]",
      g.text());
}

TEST(YAJL_Gen, FailuresStick) {
  YAJL_Gen g;
  {
    YAJL_Map_Guard m(g);
    g << 1;  // a number where a key is expected
    EXPECT_FALSE(g.ok());
    yajl_gen_status first = g.rc();
    g << "k"
      << "v";
    EXPECT_EQ(first, g.rc());
  }
  EXPECT_FALSE(g.ok());

  YAJL_Gen inf;
  inf << (1.0 / 0.0);
  EXPECT_FALSE(inf.ok());

  YAJL_Gen none(nullptr);
  none << "x";
  EXPECT_FALSE(none.ok());
  YAJL_Map_Guard m(static_cast<yajl_gen>(nullptr));
  EXPECT_NE(yajl_gen_status_ok, m.rc());
  EXPECT_EQ("", none.text());
}

}  // namespace
