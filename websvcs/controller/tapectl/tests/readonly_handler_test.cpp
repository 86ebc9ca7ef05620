// The read-only routes (inventory, metrics) on an emulated library: their
// replies, and that they reach no device and do not wait for a scan.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/provider.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "testing/wrapping_provider.h"
#include "websvcs/controller/tapectl/inventory_handler.h"
#include "websvcs/controller/tapectl/metrics_handler.h"
#include "websvcs/controller/tapectl/operations_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

using json_spirit::Array;
using json_spirit::Object;

namespace tapectl_test {
namespace {

class Readonly_Test : public Tapectl_Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Tapectl_Test::SetUp());
    ASSERT_NO_FATAL_FAILURE(open_sample());
    // T0002L9 (slot 2) in drive LIB-1-D1, and two failures on LIB-1-D0.
    Object request, result;
    json_spirit::insert(request)("serial_number", "LIB-1-D1")("media_tag", "T0002L9");
    ASSERT_TRUE(Tape_Controller::instance()->load(request, result));
    ASSERT_TRUE(Tape_Controller::instance()->impl()->update_drive_failure("/dev/st0", 2));
    // Every device opened is counted; with hold_ set, the next open tells
    // held_ and waits for release_.
    std::string error;
    d2t::tools::set_device_provider(std::make_shared<test_support::Wrapping_Provider>(
        d2t::tools::device_provider(&error), [this](std::unique_ptr<d2t::scsi::Transport> t) {
          ++opened_;
          if (hold_.exchange(false)) {
            held_.set_value();
            release_.get_future().wait();
          }
          return t;
        }));
  }
  std::atomic<int> opened_{0};
  std::atomic<bool> hold_{false};
  std::promise<void> held_, release_;
};

TEST_F(Readonly_Test, InventoryServesTheStoredLibraryWithoutDevices) {
  Inventory_Handler h;
  const Reply one = run(h, METHOD_GET, "/d2/r/tapectl/inventory?serial_number=LIB-1");
  const Reply all = run(h, METHOD_GET, "/d2/r/tapectl/inventory");
  const Reply unknown = run(h, METHOD_GET, "/d2/r/tapectl/inventory?serial_number=NOPE");
  EXPECT_EQ(0, opened_.load());

  ASSERT_EQ(200, one.status) << one.body;
  EXPECT_EQ(one.body, all.body);  // one library stored
  EXPECT_EQ("[]", unknown.body);
  const Array& libs = one.json.get_array();
  ASSERT_EQ(1u, libs.size());
  const Object& lib = libs[0].get_obj();
  EXPECT_EQ(0u, one.body.find(R"([{"target_name":"1:0:0","lun":0,"vendor":)"));
  // The list reply's drive keys, then the four stored ones (the host is
  // the one whose scan stored the drive).
  const std::string host = Tape_Controller::instance()->host_id();
  ASSERT_FALSE(host.empty());
  EXPECT_NE(std::string::npos,
            one.body.find(R"("faulty":false,"slot_number":2,"media_tag":"T0002L9","failures":0,)"
                          R"("host_id":")" +
                          host + R"("})"));
  EXPECT_NE(std::string::npos,
            one.body.find(R"("serial_number":"LIB-1-D0","lun":0,"target_name":"2:0:0",)"
                          R"("dev_name":"/dev/st0","sg_name":"/dev/sg20","faulty":false,)"
                          R"("slot_number":null,"media_tag":null,"failures":2,)"));
  const Array& slots = lib.at("slots").get_array();
  ASSERT_EQ(9u, slots.size());
  // Occupancy: the unlabelled cartridge (slot 7) has no tag but is there;
  // the home of the loaded one (slot 2) names it but is not.
  for (
      const char* slot :
      {R"({"slot_number":2,"state":"unknown","is_porter":false,"media_tag":"T0002L9","occupied":false})",
       R"({"slot_number":3,"state":"unknown","is_porter":false,"media_tag":"T0003L9","occupied":true})",
       R"({"slot_number":5,"state":"empty","is_porter":false,"occupied":false})",
       R"({"slot_number":6,"state":"clean","is_porter":false,"media_tag":"CLN001L1","occupied":true})",
       R"({"slot_number":7,"state":"empty","is_porter":false,"occupied":true})",
       R"({"slot_number":9,"state":"empty","is_porter":true,"occupied":false})"})
    EXPECT_NE(std::string::npos, one.body.find(slot)) << slot << "\n" << one.body;

  // A page of the slots: the same objects, the drives whole (a home slot
  // outside the page still names its cartridge), and the count of all.
  const Reply page =
      run(h, METHOD_GET, "/d2/r/tapectl/inventory?serial_number=LIB-1&from=4&count=3");
  ASSERT_EQ(200, page.status) << page.body;
  const Object& plib = page.json.get_array()[0].get_obj();
  EXPECT_EQ(lib.at("drives"), plib.at("drives"));
  EXPECT_EQ(Array(slots.begin() + 3, slots.begin() + 6), plib.at("slots").get_array());
  EXPECT_EQ(9, plib.at("slot_count").get_int());
  EXPECT_NE(std::string::npos, page.body.find(R"(],"slot_count":9}])"));
  const Reply past =
      run(h, METHOD_GET, "/d2/r/tapectl/inventory?serial_number=LIB-1&from=9&count=5");
  EXPECT_EQ(1u, past.json.get_array()[0].get_obj().at("slots").get_array().size());
  EXPECT_EQ(page.body, run(h, METHOD_GET, "/d2/r/tapectl/inventory?from=4&count=3").body);
  for (const char* bad :
       {"?count=5", "?serial_number=LIB-1&from=1", "?serial_number=LIB-1&from=0&count=5",
        "?serial_number=LIB-1&from=1&count=-1", "?serial_number=LIB-1&from=1&count=99999999999",
        "?serial_number=LIB-1&from=x&count=1"}) {
    EXPECT_EQ(400, run(h, METHOD_GET, std::string("/d2/r/tapectl/inventory") + bad).status) << bad;
  }
  EXPECT_EQ(0, opened_.load());
}

TEST_F(Readonly_Test, MetricsPageCountsTheInventoryWithoutDevices) {
  // Three more failures make LIB-1-D0 faulty (threshold 3).
  ASSERT_TRUE(Tape_Controller::instance()->impl()->update_drive_failure("/dev/st0", 3));
  Metrics_Handler h;
  const Reply r = run(h, METHOD_GET, "/metrics");
  EXPECT_EQ(0, opened_.load());
  ASSERT_EQ(200, r.status) << r.body;
  for (const char* line : {
           "d2t_drive_failures{library=\"LIB-1\",drive=\"LIB-1-D0\"} 3\n",
           "d2t_drive_faulty{library=\"LIB-1\",drive=\"LIB-1-D0\"} 1\n",
           "d2t_drive_faulty{library=\"LIB-1\",drive=\"LIB-1-D1\"} 0\n",
           "d2t_drive_info{library=\"LIB-1\",drive=\"LIB-1-D1\",host_id=\"",
           // Slots 1, 3, 4 hold their cartridges; 2 is the home of the one
           // in a drive; 7 holds one without a label; 5 and 8 are empty; 6
           // holds the cleaning one; 9 is the porter. Each counted once.
           "d2t_inventory_readable 1\n",
           "d2t_slots{library=\"LIB-1\",state=\"full\"} 3\n",
           "d2t_slots{library=\"LIB-1\",state=\"empty\"} 2\n",
           "d2t_slots{library=\"LIB-1\",state=\"in_drive\"} 1\n",
           "d2t_slots{library=\"LIB-1\",state=\"unlabelled\"} 1\n",
           "d2t_slots{library=\"LIB-1\",state=\"cleaning\"} 1\n",
           "d2t_slots{library=\"LIB-1\",state=\"porter\"} 1\n",
           "# TYPE d2t_moves_total counter\n",
       }) {
    EXPECT_NE(std::string::npos, r.body.find(line)) << line << r.body;
  }
}

TEST_F(Readonly_Test, ReadOnlyRoutesAnswerWhileAScanWaitsOnTheRobot) {
  hold_ = true;
  auto scan = std::async(std::launch::async, [] {
    std::vector<d2t::Changer_var> changers;
    return Tape_Controller::instance()->rescan("LIB-1", changers);
  });
  held_.get_future().wait();  // the scan is inside a device call and stays there
  Metrics_Handler metrics;
  Inventory_Handler inventory;
  EXPECT_EQ(200, run(metrics, METHOD_GET, "/metrics").status);
  EXPECT_EQ(200, run(inventory, METHOD_GET, "/d2/r/tapectl/inventory").status);
  // The operations route shows the scan running (its shape is the
  // scheduler test's).
  Operations_Handler operations;
  const Reply ops = run(operations, METHOD_GET, "/d2/r/tapectl/operations");
  EXPECT_NE(std::string::npos, ops.body.find(R"("kind":"rescan")")) << ops.body;
  release_.set_value();
  EXPECT_TRUE(scan.get());
  EXPECT_EQ("[]", run(operations, METHOD_GET, "/d2/r/tapectl/operations").body);
}

}  // namespace
}  // namespace tapectl_test
