// The controller's per-library queues on an emulated library with
// mechanical timing: a robot held in mid-move (its clock's gate closed)
// shows who waits for whom without measuring time, and what a waiting
// unload finds once its turn comes. Also the device-name store racing
// failure-count updates, and the refusal of a load whose cartridge is in
// another drive.
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

  // "kind" of each running, then "|", then each queued operation of
  // `library`, e.g. "load load | refresh load".
  std::string queue_of(const std::string& library) {
    for (const json_spirit::Value& v : controller().operations()) {
      const Object& o = v.get_obj();
      if (str(o, "serial_number") != library) continue;
      std::string text;
      for (const json_spirit::Value& e : o.at("running").get_array())
        text += str(e.get_obj(), "kind") + " ";
      text += "|";
      for (const json_spirit::Value& e : o.at("queued").get_array())
        text += " " + str(e.get_obj(), "kind");
      return text;
    }
    return "";
  }
  void wait_for_queue(const std::string& library, const std::string& expected) {
    for (int i = 0; i < 6000 && queue_of(library) != expected; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(expected, queue_of(library));
  }

  std::shared_ptr<Gate_Clock> gate_ = std::make_shared<Gate_Clock>();
};

// A refresh of library B completes while library A's rescan has its robot
// held in mid-move: B never waits for A.
TEST_F(Queue_Test, RefreshOfAnotherLibraryDoesNotWaitForAScan) {
  ASSERT_NO_FATAL_FAILURE(start_gated(
      {1000, 0, 0, {make_changer("AAA0001", 10, 2, 4), make_changer("BBB0001", 10, 2, 4, 10)}}));
  // A loaded drive: the scan's first step moves its cartridge home.
  load("AAA0001-D0", "AAA0001L9", true);
  gate_->set_open(false);
  std::atomic<bool> rescanned{false};
  std::thread scan([&] {
    std::vector<d2t::Changer_var> changers;
    rescanned = controller().rescan("AAA0001", changers);
  });
  ASSERT_TRUE(gate_->wait_for_sleepers(1));
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "rescan |"));

  Object result;
  EXPECT_TRUE(controller().refresh("BBB0001", result));
  EXPECT_FALSE(result.empty());
  EXPECT_EQ("rescan |", queue_of("AAA0001"));  // still held
  EXPECT_EQ(1, gate_->sleepers());

  gate_->set_open(true);
  scan.join();
  EXPECT_TRUE(rescanned.load());
  expect_consistent();
}

// A refresh of A queued behind two running loads starts as soon as those
// finish, before the loads that arrived after it.
TEST_F(Queue_Test, RefreshBehindRunningLoadsStartsBeforeLaterLoads) {
  ASSERT_NO_FATAL_FAILURE(start_gated({1000, 0, 0, {make_changer("AAA0001", 12, 4, 8)}}));
  std::mutex m;
  std::vector<std::string> events;  // "+load/AAA0001-D0", "-refresh/" ...
  controller().scheduler().listener([&](const Library_Scheduler::Event& e) {
    std::lock_guard<std::mutex> g(m);
    events.push_back(std::string(e.started ? "+" : "-") +
                     Library_Operation::kind_name(e.operation.kind) + "/" + e.operation.drive);
  });
  gate_->set_open(false);
  std::atomic<int> failures{0};
  auto load_on = [&](int drive, const char* tag) {
    return std::thread([&, drive, tag] {
      Object r;
      if (!controller().load(request("AAA0001-D" + std::to_string(drive), tag), r)) ++failures;
    });
  };
  std::vector<std::thread> threads;
  threads.push_back(load_on(0, "AAA0001L9"));
  threads.push_back(load_on(1, "AAA0002L9"));
  ASSERT_TRUE(gate_->wait_for_sleepers(2));  // two drives loading at once
  threads.emplace_back([&] {
    Object r;
    if (!controller().refresh("AAA0001", r)) ++failures;
  });
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "load load | refresh"));
  threads.push_back(load_on(2, "AAA0003L9"));
  threads.push_back(load_on(3, "AAA0004L9"));
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "load load | refresh load load"));
  EXPECT_EQ(2, gate_->sleepers());  // the later loads did not start

  gate_->set_open(true);
  for (std::thread& t : threads) t.join();
  controller().scheduler().listener(nullptr);
  EXPECT_EQ(0, failures.load());
  auto at = [&](const std::string& event) {
    return std::find(events.begin(), events.end(), event) - events.begin();
  };
  ASSERT_EQ(10u, events.size());
  const auto refresh_start = at("+refresh/"), refresh_end = at("-refresh/");
  EXPECT_EQ(refresh_start + 1, refresh_end);  // alone
  EXPECT_LT(at("-load/AAA0001-D0"), refresh_start);
  EXPECT_LT(at("-load/AAA0001-D1"), refresh_start);
  EXPECT_GT(at("+load/AAA0001-D2"), refresh_end);
  EXPECT_GT(at("+load/AAA0001-D3"), refresh_end);
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
  std::thread unload1([&] { EXPECT_FALSE(controller().unload(request("AAA0001-D1"), r1)); });
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "transfer | unload unload"));
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

// A load of a cartridge that another drive holds is refused before
// anything moves, ten times over: no failure counted, never faulty. The
// same load into the drive that holds it still works, and a load of an
// unknown cartridge leaves the drive's cartridge where it is.
TEST_F(Queue_Test, LoadOfACartridgeInAnotherDriveIsRefused) {
  start({0, 0, 0, {make_changer("CHG0001", 10, 2, 4)}});
  load("CHG0001-D0", "CHG0001L9", true);
  load("CHG0001-D1", "CHG0002L9", true);
  Log_Capture logs;
  for (int n = 0; n < 10; ++n) {
    const Object r = load("CHG0001-D1", "CHG0001L9", false);
    EXPECT_EQ((Object{{"message", "Media is loaded in another drive"}}), r) << n;  // not faulty
    EXPECT_EQ(0, drive_failures("CHG0001-D1"));
    EXPECT_EQ("drive:0", where_is("CHG0001L9"));
    EXPECT_EQ("drive:1", where_is("CHG0002L9"));  // not even unloaded
  }
  EXPECT_TRUE(logs.contains("is loaded in drive CHG0001-D0"));
  expect_consistent();

  EXPECT_TRUE(load("CHG0001-D0", "CHG0001L9", true).empty());
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  EXPECT_EQ(0, drive_failures("CHG0001-D0"));

  EXPECT_EQ("Failed to find media to load",
            str(load("CHG0001-D0", "NOPE0001L9", false), "message"));
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  expect_consistent();
}

// Ten identical rescans while one waits behind a load held in mid-move:
// one rescan runs and every caller gets the library it stored. A load whose
// client went away while it waited never starts; stopping the queues turns
// away a waiting load, and later ones, while the running load finishes.
TEST_F(Queue_Test, WaitingRescansJoinAndUnwantedOrStoppedLoadsNeverMove) {
  ASSERT_NO_FATAL_FAILURE(start_gated({1000, 0, 0, {make_changer("AAA0001", 12, 4, 8)}}));
  std::atomic<int> rescans{0};
  controller().scheduler().listener([&](const Library_Scheduler::Event& e) {
    if (e.started && e.operation.kind == Library_Operation::RESCAN) ++rescans;
  });
  gate_->set_open(false);
  std::thread running([&] { load("AAA0001-D0", "AAA0001L9", true); });
  ASSERT_TRUE(gate_->wait_for_sleepers(1));
  std::atomic<bool> wanted{true};
  Queue_Request gone;
  gone.still_wanted = [&] { return wanted.load(); };
  std::thread abandoned([&] {
    Object r;
    EXPECT_FALSE(controller().load(request("AAA0001-D0", "AAA0002L9"), r, &gone));
  });
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "load | load"));
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
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "load | load rescan"));
  for (int i = 0; i < 6000 && controller().scheduler().joined("AAA0001") != 9; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(9u, controller().scheduler().joined("AAA0001"));
  wanted = false;
  gate_->set_open(true);
  running.join();
  abandoned.join();
  for (std::thread& t : lists) t.join();
  EXPECT_EQ(Queue_Refusal::ABANDONED, gone.refused);
  EXPECT_EQ("AAA0002L9", gone.operation.media_tag);
  EXPECT_EQ(1, rescans.load());
  EXPECT_EQ(10, listed.load());
  EXPECT_EQ("slot:2", where_is("AAA0002L9"));  // never moved

  gate_->set_open(false);
  std::thread moving([&] { load("AAA0001-D0", "AAA0003L9", true); });
  ASSERT_TRUE(gate_->wait_for_sleepers(1));
  Queue_Request stopped;
  std::thread waiting([&] {
    Object r;
    EXPECT_FALSE(controller().load(request("AAA0001-D0", "AAA0004L9"), r, &stopped));
    EXPECT_EQ("Service is stopping", str(r, "message"));
  });
  ASSERT_NO_FATAL_FAILURE(wait_for_queue("AAA0001", "load | load"));
  controller().stop_queues();
  waiting.join();
  EXPECT_EQ(Queue_Refusal::STOPPING, stopped.refused);
  Object refused;
  EXPECT_FALSE(controller().refresh("AAA0001", refused));
  gate_->set_open(true);
  moving.join();  // the running load finished and was recorded
  controller().scheduler().listener(nullptr);
  controller().scheduler().resume();
  EXPECT_EQ("drive:0", where_is("AAA0003L9"));
  EXPECT_EQ("slot:4", where_is("AAA0004L9"));
  expect_consistent();
}

}  // namespace
