// The changer-refresh handler.
#include <gtest/gtest.h>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_helpers.h"
#include "websvcs/controller/tapectl/changer_refresh_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

using json_spirit::Array;
using json_spirit::Object;
using tapectl_test::Reply;
using tapectl_test::run;

namespace {

const char REFRESH[] = "/d2/r/tapectl/changer/refresh";

class Refresh_Handler_Test : public tapectl_test::Tapectl_Test {};

TEST_F(Refresh_Handler_Test, RepliesWithTheRefreshedLibrary) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Changer_Refresh_Handler h;
  const Reply r = run(h, METHOD_GET, std::string(REFRESH) + "?serial_number=LIB-1");
  ASSERT_EQ(200, r.status) << r.body;
  const Object o = r.obj();
  EXPECT_EQ("LIB-1", o.at("serial_number").get_str());
  EXPECT_EQ("/dev/sg10", o.at("sg_name").get_str());
  const Array& drives = o.at("drives").get_array();
  EXPECT_EQ(2u, drives.size());
  const Array& slots = o.at("slots").get_array();
  ASSERT_EQ(9u, slots.size());
  bool saw_slot_3 = false;
  for (const json_spirit::Value& v : slots) {
    const Object& s = v.get_obj();
    if (s.at("slot_number").get_int() != 3) continue;
    saw_slot_3 = true;
    EXPECT_EQ("T0003L9", s.at("media_tag").get_str());
    EXPECT_FALSE(s.at("is_porter").get_bool());
    EXPECT_EQ(1u, s.count("state"));
  }
  EXPECT_TRUE(saw_slot_3);
}

TEST_F(Refresh_Handler_Test, FailuresAnswerWithTheirMessages) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Changer_Refresh_Handler h;
  for (const char* target :
       {"/d2/r/tapectl/changer/refresh", "/d2/r/tapectl/changer/refresh?sn=LIB-1"}) {
    const Reply r = run(h, METHOD_GET, target);
    EXPECT_EQ(400, r.status) << target;
    EXPECT_EQ("Need 'serial_number' in query string.", r.message());
  }
  for (const char* query : {"?serial_number=NOT-KNOWN", "?serial_number="}) {
    const Reply r = run(h, METHOD_GET, std::string(REFRESH) + query);
    EXPECT_EQ(500, r.status) << query;
    EXPECT_EQ("Failed to refresh changer", r.message()) << query;
  }
  EXPECT_EQ(405, run(h, METHOD_POST, std::string(REFRESH) + "?serial_number=LIB-1", "{}").status);
}

TEST_F(Refresh_Handler_Test, RepeatedSerialNumberUsesTheFirst) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Changer_Refresh_Handler h;
  Reply r = run(h, METHOD_GET, std::string(REFRESH) + "?serial_number=LIB-1&serial_number=X");
  EXPECT_EQ(200, r.status);
  r = run(h, METHOD_GET, std::string(REFRESH) + "?serial_number=X&serial_number=LIB-1");
  EXPECT_EQ(500, r.status);
}

TEST_F(Refresh_Handler_Test, WithoutInventoryIs500) {
  JSON_RESTful_Changer_Refresh_Handler h;
  const Reply r = run(h, METHOD_GET, std::string(REFRESH) + "?serial_number=LIB-1");
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("Failed to refresh changer", r.message());
}

}  // namespace
