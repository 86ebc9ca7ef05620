// The device-list, controller-info and changer-refresh handlers on an
// emulated library, and the plug-in's factories.
#include <gtest/gtest.h>

#include "d2t/controller/tape_controller.h"
#include "d2t/tools/provider.h"
#include "host/host_manager.h"
#include "json_spirit/json_helpers.h"
#include "testing/fixed_provider.h"
#include "websvcs/controller/tapectl/changer_refresh_handler.h"
#include "websvcs/controller/tapectl/controller_info_handler.h"
#include "websvcs/controller/tapectl/drive_load_handler.h"
#include "websvcs/controller/tapectl/drive_unload_handler.h"
#include "websvcs/controller/tapectl/list_handler.h"
#include "websvcs/controller/tapectl/media_transfer_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

using json_spirit::Array;
using json_spirit::Object;
using test_support::Fixed_Provider;

namespace tapectl_test {
namespace {

typedef Tapectl_Test List_Handler_Test;

TEST_F(List_Handler_Test, RescansAndListsTheLibraryOrRefuses) {
  ASSERT_NO_FATAL_FAILURE(use_library(sample_library()));
  ASSERT_TRUE(open_controller());
  JSON_RESTful_List_Handler h;
  const Reply r = run(h, METHOD_GET, std::string(LIST) + "?serial_number=LIB-1");
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ(0, r.result);
  // The rescanned library as the list generator writes it (its shapes are
  // the generator test's); the capacity as the cartridge reports it.
  ASSERT_EQ(1u, r.json.get_array().size()) << r.body;
  const Object& lib = r.json.get_array()[0].get_obj();
  EXPECT_EQ("LIB-1", lib.at("serial_number").get_str());
  EXPECT_EQ(0u, r.body.find(R"([{"target_name":"1:0:0","lun":0,"vendor":)"));
  EXPECT_EQ(2u, lib.at("drives").get_array().size());
  EXPECT_EQ(9u, lib.at("slots").get_array().size());  // 8 storage + 1 porter
  EXPECT_NE(
      std::string::npos,
      r.body.find(R"({"slot_number":1,"state":"blank","is_porter":false,"media_tag":"T0001L9",)"
                  R"("capacity":17999999270912,"used":0})"))
      << r.body;

  const std::string need = "Need 'serial_number' in query string.";
  const struct {
    int method;
    std::string query;
    int status;
    std::string body;  // whole body, or the message of a 400
  } rows[] = {
      // Unknown or empty serial: an empty list, nothing moves.
      {METHOD_GET, "?serial_number=NOPE", 200, "[]"},
      {METHOD_GET, "?serial_number=", 200, "[]"},
      {METHOD_GET, "?serial_number", 200, "[]"},
      {METHOD_GET, "", 400, need},
      {METHOD_GET, "?serial=LIB-1", 400, need},
      {METHOD_GET, "?SERIAL_NUMBER=LIB-1", 400, need},
      {METHOD_POST, "?serial_number=LIB-1", 405, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.query);
    const Reply q = run(h, row.method, LIST + row.query, row.method == METHOD_POST ? "{}" : "");
    EXPECT_EQ(row.status, q.status) << q.body;
    if (row.status != 405) {
      EXPECT_EQ(row.body, row.status == 400 ? q.message() : q.body);
    }
  }
  EXPECT_EQ("slot:1", where_is("T0001L9"));
}

TEST_F(List_Handler_Test, FailedRescanIs500WithoutBody) {
  Log_Capture log;
  JSON_RESTful_List_Handler h;
  // The controller was never opened: no inventory.
  const Reply r = run(h, METHOD_GET, std::string(LIST) + "?serial_number=LIB-1");
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("", r.body);
  EXPECT_EQ(0, r.result);
  EXPECT_TRUE(log.contains("Failed to list tape devices"));
}

typedef Tapectl_Test Info_Handler_Test;

TEST_F(Info_Handler_Test, HostIdentityAndListedChangersOrFailure) {
  ASSERT_NO_FATAL_FAILURE(use_library(sample_library()));
  JSON_RESTful_Controller_Info_Handler h;
  // The controller is not needed: the handler lists devices itself.
  Reply r = run(h, METHOD_GET, std::string(INFO) + "?ignored=1");
  ASSERT_EQ(200, r.status) << r.body;
  const Object o = r.obj();
  EXPECT_EQ(Host_Manager::instance()->uuid(), o.at("host_uuid").get_str());
  const Array& changers = o.at("changers").get_array();
  ASSERT_EQ(1u, changers.size());
  EXPECT_EQ(R"({"id":0,"lun":0,"model":"TAPE LIBRARY","serial_number":"LIB-1",)"
            R"("sg_name":"/dev/sg10","target_name":"1:0:0","type":"","vendor":"EMULATED"})",
            json_spirit::write(changers[0]));
  EXPECT_EQ(2u, o.size());

  // A failed listing.
  d2t::tools::set_device_provider(
      std::make_shared<Fixed_Provider>(std::vector<std::string>(), "the listing failed"));
  r = run(h, METHOD_GET, INFO);
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("Failed to list devices", r.message());

  // A device that cannot be opened is left out and named with its error.
  d2t::tools::set_device_provider(
      std::make_shared<Fixed_Provider>(std::vector<std::string>{"/dev/sg3"}));
  Log_Capture logs;
  EXPECT_EQ(200, run(h, METHOD_GET, INFO).status);
  EXPECT_TRUE(
      logs.contains("Device left out of the listing: cannot open /dev/sg3: Permission denied"));
}

typedef Tapectl_Test Refresh_Handler_Test;

TEST_F(Refresh_Handler_Test, RepliesWithTheLibraryOrTheFailure) {
  JSON_RESTful_Changer_Refresh_Handler h;
  // Without an inventory.
  Reply r = run(h, METHOD_GET, std::string(REFRESH) + "?serial_number=LIB-1");
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("Failed to refresh changer", r.message());

  ASSERT_NO_FATAL_FAILURE(open_sample());
  const struct {
    const char* query;
    int status;
    const char* message;
  } rows[] = {
      {"", 400, "Need 'serial_number' in query string."},
      {"?sn=LIB-1", 400, "Need 'serial_number' in query string."},
      {"?serial_number=NOT-KNOWN", 500, "Failed to refresh changer"},
      // A repeated serial number: the first counts.
      {"?serial_number=X&serial_number=LIB-1", 500, "Failed to refresh changer"},
      {"?serial_number=LIB-1&serial_number=X", 200, ""},
  };
  for (const auto& row : rows) {
    r = run(h, METHOD_GET, std::string(REFRESH) + row.query);
    EXPECT_EQ(row.status, r.status) << row.query;
    EXPECT_EQ(row.message, r.message()) << row.query;
  }
  EXPECT_EQ(405, run(h, METHOD_POST, std::string(REFRESH) + "?serial_number=LIB-1", "{}").status);

  r = run(h, METHOD_GET, std::string(REFRESH) + "?serial_number=LIB-1");
  ASSERT_EQ(200, r.status) << r.body;
  const Object o = r.obj();
  EXPECT_EQ("LIB-1", o.at("serial_number").get_str());
  EXPECT_EQ(2u, o.at("drives").get_array().size());
  const Array& slots = o.at("slots").get_array();
  ASSERT_EQ(9u, slots.size());
  EXPECT_EQ(R"({"is_porter":false,"media_tag":"T0003L9","slot_number":3,"state":"full"})",
            json_spirit::write(slots[2]));
}

// Every factory hands out its destroyer and a handler that runs requests
// in threads of their own.
TEST(Factories, MakeAndDestroyEveryHandler) {
  JSON_RESTful_Handler_Factory factories[] = {_make_JSON_RESTful_List_Handler,
                                              _make_JSON_RESTful_Controller_Info_Handler,
                                              _make_JSON_RESTful_Changer_Refresh_Handler,
                                              _make_JSON_RESTful_Media_Transfer_Handler,
                                              _make_Drive_Load_Handler,
                                              _make_Drive_Unload_Handler};
  for (JSON_RESTful_Handler_Factory make : factories) {
    JSON_RESTful_Handler_Gobbler gobble = nullptr;
    JSON_RESTful_Handler* h = make(&gobble);
    ASSERT_NE(nullptr, h);
    ASSERT_NE(nullptr, gobble);
    EXPECT_EQ(JSON_RESTful_Handler::THREAD, h->concurrency());
    gobble(h);
    gobble(nullptr);  // tolerated
    // Without a place for the destroyer the handler is still made.
    JSON_RESTful_Handler* h2 = make(nullptr);
    ASSERT_NE(nullptr, h2);
    delete h2;
  }
}

}  // namespace
}  // namespace tapectl_test
