// Controller lifecycle: configuration, singleton, service object, and the
// light discovery that open() runs.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "d2t/controller/tape_controller_service.h"
#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/tools/tools.h"
#include "database/manager.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;

namespace {

class Lifecycle_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    Library_Spec spec;
    spec.changers.push_back(make_changer("CHG0001", 10, 2, 4));
    write_library(spec);
  }
};

TEST_F(Lifecycle_Test, DefaultsWithoutConfigurationFile) {
  ASSERT_TRUE(open_controller());
  EXPECT_EQ(30, controller().max_wait_seconds());
  EXPECT_EQ(3, controller().load_unload_retries());
  EXPECT_EQ(3, controller().faulty_threshold());
}

TEST_F(Lifecycle_Test, ConfigurationProblemsKeepDefaults) {
  for (const char* text : {"[1, 2, 3]", "{\"max_wait_seconds\": ", "not json at all",
                           "{\"max_wait_seconds\": \"60\", \"drive_faulty_threshold\": null}"}) {
    write_config(text);
    controller_.reset();
    ASSERT_TRUE(open_controller()) << text;
    EXPECT_EQ(30, controller().max_wait_seconds()) << text;
    EXPECT_EQ(3, controller().load_unload_retries()) << text;
    EXPECT_EQ(3, controller().faulty_threshold()) << text;
  }
}

TEST_F(Lifecycle_Test, PartialConfigurationChangesOnlyItsKeys) {
  write_config("{\"load_unload_retries\": 5, \"other\": true}");
  ASSERT_TRUE(open_controller());
  EXPECT_EQ(30, controller().max_wait_seconds());
  EXPECT_EQ(5, controller().load_unload_retries());
  EXPECT_EQ(3, controller().faulty_threshold());

  write_config("{\"max_wait_seconds\": 6, \"load_unload_retries\": 1, \"drive_faulty_threshold\": 7}");
  ASSERT_TRUE(controller().load_config());
  EXPECT_EQ(6, controller().max_wait_seconds());
  EXPECT_EQ(1, controller().load_unload_retries());
  EXPECT_EQ(7, controller().faulty_threshold());
}

TEST_F(Lifecycle_Test, OperationsWithoutBackEndFail) {
  Log_Capture logs;
  Tape_Controller& c = controller();  // never opened
  json_spirit::Object result;
  std::vector<d2t::Changer_var> changers;
  EXPECT_FALSE(c.load(request("CHG0001-D0", "CHG0001L9"), result));
  EXPECT_FALSE(c.unload(request("CHG0001-D0"), result));
  EXPECT_FALSE(c.refresh("CHG0001", result));
  EXPECT_FALSE(c.rescan("CHG0001", changers));
  EXPECT_FALSE(c.get_slot("CHG0001", 1, result));
  EXPECT_FALSE(c.transfer(json_spirit::Object(), json_spirit::Object()));
  EXPECT_TRUE(result.empty());
  EXPECT_TRUE(logs.contains("impl_ is NULL"));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
}

TEST_F(Lifecycle_Test, SingletonIsFreshAfterClose) {
  Tape_Controller* first = Tape_Controller::instance();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, Tape_Controller::instance());
  first->config_path(config_file());
  write_config("{\"max_wait_seconds\": 9}");
  ASSERT_TRUE(first->open());
  EXPECT_EQ(9, first->max_wait_seconds());
  Tape_Controller::close_instance();

  Tape_Controller* second = Tape_Controller::instance();
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(nullptr, second->impl());
  EXPECT_EQ(30, second->max_wait_seconds());
  Tape_Controller::close_instance();
}

TEST_F(Lifecycle_Test, ServiceFactoryAndInitAlwaysSucceed) {
  void (*gobbler)(void*) = nullptr;
  ACE_Service_Object* service = _make_Tape_Controller_Service(&gobbler);
  ASSERT_NE(nullptr, service);
  ASSERT_EQ(&_gobble_Tape_Controller_Service, gobbler);

  // The factory is found by name, as the service configurator finds it.
  EXPECT_NE(nullptr, ::dlsym(RTLD_DEFAULT, "_make_Tape_Controller_Service"));

  // A database that cannot be reached: init still succeeds.
  ASSERT_TRUE(database::sql::Legacy_Manager::instance()->configure(
      "sqlite:/proc/no-such-dir/media_controller.db"));
  EXPECT_EQ(0, service->init(0, nullptr));
  EXPECT_NE(nullptr, Tape_Controller::instance());
  EXPECT_EQ(0, service->fini());
  gobbler(service);

  // Without a gobbler pointer the factory still makes an object.
  ACE_Service_Object* other = _make_Tape_Controller_Service(nullptr);
  ASSERT_NE(nullptr, other);
  _gobble_Tape_Controller_Service(other);
}

TEST_F(Lifecycle_Test, OpenRewritesRenamedDeviceNames) {
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  EXPECT_EQ("/dev/st0", *json_spirit::object_get_str(drive_row("CHG0001-D0"), "dev_name"));

  // The host renumbers its devices; a fresh open stores the new names.
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 10, 2, 4);
  c.sg_name = "/dev/sg150";
  c.drives[0].sg_name = "/dev/sg151";
  c.drives[0].dev_name = "/dev/st7";
  spec.changers.push_back(c);
  write_library(spec);

  controller_.reset();
  ASSERT_TRUE(open_controller());
  json_spirit::Object drive = drive_row("CHG0001-D0");
  EXPECT_EQ("/dev/st7", *json_spirit::object_get_str(drive, "dev_name"));
  EXPECT_EQ("/dev/sg151", *json_spirit::object_get_str(drive, "sg_name"));
  EXPECT_EQ("/dev/sg150", *json_spirit::object_get_str(slot_row("CHG0001", 1), "sg_name"));
  expect_consistent();

  // The renamed drive loads with its new names.
  json_spirit::Object result;
  ASSERT_TRUE(controller().load(request("CHG0001-D0", "CHG0001L9"), result)) << json_spirit::JSON_Dump(result);
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  expect_consistent();
}

TEST_F(Lifecycle_Test, DevicesGoneLeaveNamesEmpty) {
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  // Drive 1 disappears from the host.
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 10, 2, 4);
  c.drives.pop_back();
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(controller().update());
  EXPECT_EQ(nullptr, json_spirit::object_get_str(drive_row("CHG0001-D1"), "dev_name"));
  EXPECT_EQ("/dev/st0", *json_spirit::object_get_str(drive_row("CHG0001-D0"), "dev_name"));
}

TEST_F(Lifecycle_Test, OpenUpdatesStoredLibrarySlots) {
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  // A cartridge moves behind the controller's back (operator, other host).
  ASSERT_TRUE(d2t::tools::transfer("/dev/sg100", 1, 9, 1));
  controller_.reset();
  ASSERT_TRUE(open_controller());
  EXPECT_TRUE(slot_row("CHG0001", 1)["media_tag"].is_null());
  EXPECT_EQ("CHG0001L9", *json_spirit::object_get_str(slot_row("CHG0001", 9), "media_tag"));
  expect_consistent();
}

TEST_F(Lifecycle_Test, LibraryAbsentFromInventoryIsSkipped) {
  ASSERT_TRUE(open_controller());
  EXPECT_EQ(-1, changer_id("CHG0001"));
  EXPECT_EQ(-1, controller().get_changer_id("CHG0001"));
}

}  // namespace
