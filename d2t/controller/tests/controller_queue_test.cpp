// The controller's per-library queues on an emulated library with
// mechanical timing: a robot held in mid-move (its clock's gate closed)
// shows who runs together and who waits without measuring time, and what a
// waiting unload finds once its turn comes. Also the device-name store
// racing failure-count updates. Arrival order, time-outs, stopping and
// operations whose client went away are the scheduler's own test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/emulator/clock.h"
#include "d2t/emulator/provider.h"
#include "d2t/tools/provider.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

// The emulator's clock with a gate: while it is closed, every mechanical
// wait (a move of move_ms) blocks, holding that robot in mid-move.
class Gate_Clock : public d2t::emulator::Clock {
 public:
  std::uint64_t now_ms() override { return now_.load(); }
  void sleep_ms(std::uint64_t ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++sleepers_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    --sleepers_;
    now_ += ms;
  }
  void set_open(bool open) {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = open;
    changed_.notify_all();
  }
  // Waits (generously) until `n` moves are held.
  bool wait_for_sleepers(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return sleepers_ >= n; });
  }
  int sleepers() {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleepers_;
  }

 private:
  std::atomic<std::uint64_t> now_{1000000};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  int sleepers_ = 0;
};

class Queue_Test : public Controller_Test {
 protected:
  // The layout with moves of a second, on the gate clock, opened and
  // rescanned with the gate open.
  void start_gated(const Library_Layout& layout) {
    write_library(layout);
    std::string error;
    std::shared_ptr<d2t::emulator::Library> library =
        d2t::emulator::Library::open(library_file(), &error, gate_);
    ASSERT_TRUE(library) << error;
    d2t::tools::set_device_provider(std::make_shared<d2t::emulator::Emulated_Provider>(library));
    ASSERT_TRUE(open_controller());
    for (const Changer_Layout& c : layout.changers) rescan_ok(c.serial_number);
  }

  void wait_for_queue(const std::string& library, const std::string& expected) {
    eventually([&] { return queue_of(controller().operations(), library) == expected; });
    ASSERT_EQ(expected, queue_of(controller().operations(), library));
  }

  std::shared_ptr<Gate_Clock> gate_ = std::make_shared<Gate_Clock>();
};

// Loads into two drives of library A run together, their robot held in
// mid-move; a refresh of library B completes meanwhile (B never waits for
// A); ten identical rescans of A waiting behind the loads run once (nine
// join the first), and every caller gets the library it stored.
TEST_F(Queue_Test, DrivesAndLibrariesRunTogetherAndWaitingRescansJoin) {
  ASSERT_NO_FATAL_FAILURE(start_gated(
      {1000, 0, 0, {make_changer("AAA0001", 12, 4, 8), make_changer("BBB0001", 10, 2, 4, 10)}}));
  gate_->set_open(false);
  std::thread load0([&] { load("AAA0001-D0", "AAA0001L9", true); });
  ASSERT_TRUE(gate_->wait_for_sleepers(1));
  std::thread load1([&] { load("AAA0001-D1", "AAA0002L9", true); });
  ASSERT_TRUE(gate_->wait_for_sleepers(2));
  Object result;
  EXPECT_TRUE(controller().refresh("BBB0001", result));
  EXPECT_FALSE(result.empty());
  EXPECT_EQ(2, gate_->sleepers());  // still held

  std::vector<std::thread> lists;
  std::atomic<int> listed{0};
  for (int i = 0; i < 10; ++i) {
    lists.emplace_back([&] {
      std::vector<d2t::Changer_var> changers;
      if (controller().rescan("AAA0001", changers) &&
          std::any_of(changers.begin(), changers.end(),
                      [](const d2t::Changer_var& c) { return match_changer(c, "AAA0001"); }))
        ++listed;
    });
  }
  ASSERT_NO_FATAL_FAILURE(
      wait_for_queue("AAA0001", "run load/AAA0001-D0 load/AAA0001-D1 | wait rescan/"));
  EXPECT_TRUE(eventually([&] { return controller().scheduler().joined("AAA0001") == 9u; }));
  gate_->set_open(true);
  for (std::thread* t : {&load0, &load1}) t->join();
  for (std::thread& t : lists) t.join();
  EXPECT_EQ(10, listed.load());
  expect_consistent();
}

// Unloads waiting behind a transfer while the host renames its devices
// and loses one drive: once their turn comes they list the devices again,
// so the one unloads through the new names (and stores them) and the other
// answers as a drive that cannot be found, counting nothing against it.
TEST_F(Queue_Test, WaitingUnloadsListTheDevicesAgain) {
  ASSERT_NO_FATAL_FAILURE(start_gated({1000, 0, 0, {make_changer("AAA0001", 12, 2, 4)}}));
  load("AAA0001-D0", "AAA0001L9", true);
  load("AAA0001-D1", "AAA0002L9", true);
  gate_->set_open(false);
  std::thread transfer([&] {
    Object source, target;
    EXPECT_EQ(Tape_Controller::TRANSFER_DONE,
              controller().transfer_media("AAA0001", 3, 5, "AAA0003L9", source, target));
  });
  ASSERT_TRUE(gate_->wait_for_sleepers(1));
  Object r0, r1;
  std::thread unload0([&] { EXPECT_TRUE(controller().unload(request("AAA0001-D0"), r0)); });
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "run transfer/ | wait unload/AAA0001-D0"));
  std::thread unload1([&] { EXPECT_FALSE(controller().unload(request("AAA0001-D1"), r1)); });
  ASSERT_NO_FATAL_FAILURE(
      wait_for_queue("AAA0001", "run transfer/ | wait unload/AAA0001-D0 unload/AAA0001-D1"));
  Changer_Layout renamed = make_changer("AAA0001", 12, 2, 4, 5);
  renamed.drives[1].attached = false;
  write_library({0, 0, 0, {renamed}});
  gate_->set_open(true);
  for (std::thread* t : {&transfer, &unload0, &unload1}) t->join();
  EXPECT_EQ("slot:1", where_is("AAA0001L9"));
  EXPECT_EQ(renamed.drives[0].dev_name, str(drive_row("AAA0001-D0"), "dev_name"));
  EXPECT_EQ((Object{{"message", "Failed to prepare devices"}}), r1);
  EXPECT_EQ("drive:1", where_is("AAA0002L9"));
  EXPECT_EQ(0, drive_failures("AAA0001-D1"));
}

// Storing device names clears and sets them in one transaction: failure
// counts and drive slots written by device name meanwhile are never lost.
TEST_F(Queue_Test, DeviceNameStoreNeverLosesConcurrentDriveUpdates) {
  start({0, 0, 0, {make_changer("CHG0001", 10, 2, 4)}});
  const std::string dev_name = str(drive_row("CHG0001-D0"), "dev_name");
  ASSERT_FALSE(dev_name.empty());
  std::atomic<bool> done{false};
  std::thread names([&] {
    while (!done.load()) ASSERT_TRUE(controller().rediscover_names());
  });
  int lost = 0;
  Tape_Controller_Impl& impl = *controller().impl();
  for (int i = 1; i <= 150; ++i) {
    ASSERT_TRUE(impl.update_drive_failure(dev_name, i % 7 + 1));
    if (drive_failures("CHG0001-D0") != i % 7 + 1) ++lost;
    ASSERT_TRUE(impl.set_drive_slot(dev_name, json_spirit::Value(i % 5 + 1)));
    if (stored_slot("CHG0001-D0") != i % 5 + 1) ++lost;
  }
  done = true;
  names.join();
  EXPECT_EQ(0, lost);
  EXPECT_EQ(dev_name, str(drive_row("CHG0001-D0"), "dev_name"));
}

}  // namespace
