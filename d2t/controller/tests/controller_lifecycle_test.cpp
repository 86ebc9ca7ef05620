// Controller lifecycle: configuration and the light discovery that open()
// runs.
#include <gtest/gtest.h>

#include "d2t/controller/tape_controller_service.h"
#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/tools/tools.h"
#include "database/manager.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

class Lifecycle_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    write_library({0, 0, 0, {make_changer("CHG0001", 10, 2, 4)}});
  }
};

TEST_F(Lifecycle_Test, ConfigurationChangesOnlyValidKeysAndNeverFailsOpen) {
  struct Row {
    const char* text;  // null: no file
    int wait, retries, threshold;
  };
  const Row rows[] = {
      {nullptr, 30, 3, 3},
      {"[1, 2, 3]", 30, 3, 3},
      {"{\"max_wait_seconds\": ", 30, 3, 3},
      {"not json at all", 30, 3, 3},
      {"{\"max_wait_seconds\": \"60\", \"drive_faulty_threshold\": null}", 30, 3, 3},
      {"{\"load_unload_retries\": 5, \"other\": true}", 30, 5, 3},
      {"{\"max_wait_seconds\": 6, \"load_unload_retries\": 1, \"drive_faulty_threshold\": 7}", 6, 1,
       7},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text ? r.text : "no file");
    if (r.text) write_config(r.text);
    controller_.reset();
    ASSERT_TRUE(open_controller());
    EXPECT_EQ((std::vector<int>{r.wait, r.retries, r.threshold}),
              (std::vector<int>{controller().max_wait_seconds(), controller().load_unload_retries(),
                                controller().faulty_threshold()}));
  }
  // A running controller re-reads its file.
  write_config("{\"max_wait_seconds\": 9}");
  ASSERT_TRUE(controller().load_config());
  EXPECT_EQ(9, controller().max_wait_seconds());
}

// open() skips libraries the inventory does not know, stores the host's new
// device names (none for a device gone) and the slots of cartridges moved
// behind its back.
TEST_F(Lifecycle_Test, OpenFollowsRenamedDevicesAndMovedCartridges) {
  ASSERT_TRUE(open_controller());
  EXPECT_EQ(-1, controller().get_changer_id("CHG0001"));
  rescan_ok("CHG0001");
  EXPECT_EQ("/dev/st1", str(drive_row("CHG0001-D1"), "dev_name"));

  Library_Layout renamed = layout_;
  Changer_Layout& c = renamed.changers[0];
  c.sg_name = "/dev/sg150";
  c.drives[0].sg_name = "/dev/sg151";
  c.drives[0].dev_name = "/dev/st7";
  c.drives.pop_back();
  write_library(renamed);
  ASSERT_TRUE(d2t::tools::transfer("/dev/sg150", 1, 9, 1));
  controller_.reset();
  ASSERT_TRUE(open_controller());

  const Object drive = drive_row("CHG0001-D0");
  EXPECT_EQ("/dev/st7", str(drive, "dev_name"));
  EXPECT_EQ("/dev/sg151", str(drive, "sg_name"));
  EXPECT_EQ(nullptr, json_spirit::object_get_str(drive_row("CHG0001-D1"), "dev_name"));
  EXPECT_EQ("/dev/sg150", str(slot_row("CHG0001", 1), "sg_name"));
  EXPECT_TRUE(slot_row("CHG0001", 1)["media_tag"].is_null());
  EXPECT_EQ("CHG0001L9", str(slot_row("CHG0001", 9), "media_tag"));
  expect_consistent();
  // The renamed drive loads with its new names.
  load("CHG0001-D0", "CHG0002L9", true);
  EXPECT_EQ("drive:0", where_is("CHG0002L9"));
  expect_consistent();
}

// Reload: the service's fini drops only the process's reference; a request
// holding the controller keeps it alive, and the next init takes that same
// controller back and re-reads its configuration instead of opening a
// second one.
TEST_F(Lifecycle_Test, ReloadKeepsAControllerInUseAndRereadsItsConfiguration) {
  Tape_Controller::close_instance();
  EXPECT_EQ(nullptr, Tape_Controller::acquire());
  Tape_Controller::instance()->config_path(config_file());
  Tape_Controller_Service first;
  ASSERT_EQ(0, first.init(0, nullptr));
  std::shared_ptr<Tape_Controller> request = Tape_Controller::acquire();
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->opened());

  write_config("{\"drive_faulty_threshold\": 5}");
  ASSERT_EQ(0, first.fini());
  // Between fini and init a request still reaches the live controller.
  EXPECT_EQ(request, Tape_Controller::acquire());
  std::weak_ptr<Tape_Controller> watch = request;
  Tape_Controller_Service second;
  ASSERT_EQ(0, second.init(0, nullptr));
  EXPECT_EQ(request, Tape_Controller::acquire());  // one controller at a time
  EXPECT_EQ(5, request->faulty_threshold());
  request.reset();
  EXPECT_FALSE(watch.expired());  // the process's reference again

  // A replacement loaded before the old service goes shares the
  // controller: the old one's fini leaves it running. A kept service takes
  // the new configuration only when the reload is done.
  Tape_Controller_Service third;
  ASSERT_EQ(0, third.init(0, nullptr));
  ASSERT_EQ(0, second.fini());
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(Hosted_Service::KEEP, third.prepare_reload());
  write_config("{\"drive_faulty_threshold\": 7}");
  third.finish_reload(false);
  EXPECT_EQ(5, Tape_Controller::acquire()->faulty_threshold());
  third.finish_reload(true);
  EXPECT_EQ(7, Tape_Controller::acquire()->faulty_threshold());

  ASSERT_EQ(0, third.fini());
  EXPECT_TRUE(watch.expired());  // nobody used it: freed at once
  EXPECT_EQ(nullptr, Tape_Controller::acquire());

  // Without its inventory database the service does not start.
  database::sql::Legacy_Manager::instance()->reset_for_testing();
  ASSERT_TRUE(database::sql::Legacy_Manager::instance()->configure(
      "sqlite:" + config_file() + "/media_controller.db"));  // under a file
  Tape_Controller_Service no_database;
  EXPECT_EQ(-1, no_database.init(0, nullptr));
  EXPECT_EQ(0, no_database.fini());
}

}  // namespace
