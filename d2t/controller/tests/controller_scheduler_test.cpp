// The per-library queues: who runs together, who waits, in which order, and
// what the operations snapshot shows. Waiting is observed through the
// snapshot and the event listener, never through time.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "d2t/controller/library_scheduler.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Array;
using json_spirit::Object;

namespace {

Library_Operation op(Library_Operation::Kind kind, const std::string& drive = "") {
  Library_Operation o;
  o.kind = kind;
  o.drive = drive;
  return o;
}

// An operation entered on a thread of its own; it holds its place until
// finish() and records that it started.
class Client {
 public:
  Client(Library_Scheduler& s, const std::string& library, const Library_Operation& o)
      : started_future_(started_.get_future()), finish_future_(finish_.get_future()) {
    thread_ = std::thread([this, &s, library, o] {
      Library_Scheduler::Ticket t = s.enter(library, o);
      started_.set_value();
      finish_future_.wait();
    });
  }
  ~Client() {
    finish();
    thread_.join();
  }
  bool started() {
    return started_future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  void wait_started() {
    ASSERT_EQ(std::future_status::ready, started_future_.wait_for(std::chrono::seconds(60)));
  }
  void finish() {
    if (!finished_) finish_.set_value();
    finished_ = true;
  }

 private:
  std::promise<void> started_, finish_;
  std::future<void> started_future_, finish_future_;
  bool finished_ = false;
  std::thread thread_;
};

// "kind/drive" of each running and queued operation of `library`, e.g.
// "run load/D0 load/D1 | wait refresh/".
std::string queue_of(const Library_Scheduler& s, const std::string& library) {
  for (const json_spirit::Value& v : s.snapshot()) {
    const Object& o = v.get_obj();
    if (json_spirit::object_get_str_or_empty(o, "serial_number") != library) continue;
    std::string text = "run";
    for (const char* list : {"running", "queued"}) {
      if (std::string(list) == "queued") text += " | wait";
      for (const json_spirit::Value& e : o.at(list).get_array()) {
        const Object& op = e.get_obj();
        text += " " + json_spirit::object_get_str_or_empty(op, "kind") + "/" +
                json_spirit::object_get_str_or_empty(op, "drive");
      }
    }
    return text;
  }
  return "";
}

// Waits (generously) until the library's queue reads `expected`.
void expect_queue(const Library_Scheduler& s, const std::string& library, const std::string& expected) {
  for (int i = 0; i < 6000 && queue_of(s, library) != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(expected, queue_of(s, library));
}

// Loads of different drives overlap, one drive's operations take turns, a
// waiting refresh holds back every later arrival and starts as soon as
// the operations that came before it are done.
TEST(Library_Scheduler, ArrivalOrderDecidesAndNothingStarves) {
  Library_Scheduler s;
  Client load0(s, "LIB", op(Library_Operation::LOAD, "D0"));
  load0.wait_started();
  Client unload0(s, "LIB", op(Library_Operation::UNLOAD, "D0"));  // same drive: waits
  expect_queue(s, "LIB", "run load/D0 | wait unload/D0");
  Client load1(s, "LIB", op(Library_Operation::LOAD, "D1"));  // another drive: runs
  load1.wait_started();
  Client refresh(s, "LIB", op(Library_Operation::REFRESH));
  expect_queue(s, "LIB", "run load/D0 load/D1 | wait unload/D0 refresh/");
  Client load2(s, "LIB", op(Library_Operation::LOAD, "D2"));  // behind the refresh
  Client other(s, "LIB-B", op(Library_Operation::RESCAN));    // another library: runs
  other.wait_started();
  expect_queue(s, "LIB", "run load/D0 load/D1 | wait unload/D0 refresh/ load/D2");

  load0.finish();
  unload0.wait_started();
  expect_queue(s, "LIB", "run unload/D0 load/D1 | wait refresh/ load/D2");  // arrival order
  load1.finish();
  unload0.finish();
  refresh.wait_started();
  expect_queue(s, "LIB", "run refresh/ | wait load/D2");
  EXPECT_FALSE(load2.started());
  refresh.finish();
  load2.wait_started();
  load2.finish();
  other.finish();
  expect_queue(s, "LIB", "");
  for (int i = 0; i < 6000 && s.libraries() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(0u, s.libraries());  // entries exist only while used
}

// try_enter never waits: it runs only on an idle library.
TEST(Library_Scheduler, TryEnterTakesOnlyAnIdleLibrary) {
  Library_Scheduler s;
  {
    Library_Scheduler::Ticket held = s.enter("LIB", op(Library_Operation::LOAD, "D0"));
    EXPECT_FALSE(s.try_enter("LIB", op(Library_Operation::RESCAN)).held());
    Library_Scheduler::Ticket idle = s.try_enter("LIB-B", op(Library_Operation::RESCAN));
    EXPECT_TRUE(idle.held());
    EXPECT_EQ(2u, s.libraries());
    Library_Scheduler::Ticket moved = std::move(idle);
    EXPECT_TRUE(moved.held());
    EXPECT_FALSE(idle.held());
  }
  EXPECT_EQ(0u, s.libraries());
}

// Many threads mixing every kind: exclusive operations never overlap with
// anything, and one drive never runs two operations.
TEST(Library_Scheduler, ExclusiveOperationsRunAloneUnderLoad) {
  Library_Scheduler s;
  std::mutex m;
  int exclusive = 0, shared = 0;
  int per_drive[3] = {0, 0, 0};
  bool violated = false;
  s.listener([&](const Library_Scheduler::Event& e) {
    std::lock_guard<std::mutex> g(m);
    const int d = e.operation.drive.empty() ? -1 : e.operation.drive.back() - '0';
    const int step = e.started ? 1 : -1;
    if (e.operation.exclusive()) {
      exclusive += step;
    } else {
      shared += step;
      per_drive[d] += step;
      if (per_drive[d] > 1) violated = true;
    }
    if (exclusive > 1 || (exclusive == 1 && shared > 0)) violated = true;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&s, t] {
      for (int i = 0; i < 300; ++i) {
        const Library_Operation o = t == 0 ? op(Library_Operation::TRANSFER)
                                           : op(Library_Operation::UNLOAD, "D" + std::to_string(t % 3));
        Library_Scheduler::Ticket ticket = s.enter("LIB", o);
        std::this_thread::yield();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(violated);
  EXPECT_EQ(0u, s.libraries());
}

// The snapshot's shape: one object per busy library, running and queued
// operations with their times from the injected clock.
TEST(Library_Scheduler, SnapshotShowsRunningAndQueuedOperations) {
  auto clock = std::make_shared<Manual_Controller_Clock>();
  Library_Scheduler s(clock);
  EXPECT_TRUE(s.snapshot().empty());
  Library_Operation transfer = op(Library_Operation::TRANSFER);
  transfer.from = 3;
  transfer.to = 7;
  transfer.media_tag = "A00001L9";
  Library_Scheduler::Ticket t = s.enter("LIB-A", transfer);
  clock->sleep_seconds(2);
  Library_Operation load = op(Library_Operation::LOAD, "DRV-1");
  load.media_tag = "A00002L9";
  std::thread waiting([&] { Library_Scheduler::Ticket w = s.enter("LIB-A", load); });
  expect_queue(s, "LIB-A", "run transfer/ | wait load/DRV-1");
  clock->sleep_seconds(1);

  const Array snapshot = s.snapshot();
  ASSERT_EQ(1u, snapshot.size());
  const Object& lib = snapshot[0].get_obj();
  EXPECT_EQ("LIB-A", json_spirit::object_get_str_or_empty(lib, "serial_number"));
  const Object& running = lib.at("running").get_array().at(0).get_obj();
  EXPECT_EQ(1, running.at("id").get_int());
  EXPECT_EQ("transfer", running.at("kind").get_str());
  EXPECT_TRUE(running.at("drive").is_null());
  EXPECT_EQ((Array{3, 7}), running.at("slots").get_array());
  EXPECT_EQ("A00001L9", running.at("media_tag").get_str());
  EXPECT_EQ("1970-01-01T00:16:40Z", running.at("started_at").get_str());  // 1000000 ms
  EXPECT_DOUBLE_EQ(3.0, running.at("seconds").get_real());
  const Object& queued = lib.at("queued").get_array().at(0).get_obj();
  EXPECT_EQ(2, queued.at("id").get_int());
  EXPECT_EQ("load", queued.at("kind").get_str());
  EXPECT_EQ("DRV-1", queued.at("drive").get_str());
  EXPECT_TRUE(queued.at("slots").get_array().empty());
  EXPECT_EQ("1970-01-01T00:16:42Z", queued.at("queued_at").get_str());
  EXPECT_DOUBLE_EQ(1.0, queued.at("seconds").get_real());
  EXPECT_EQ(0u, queued.count("started_at"));
  t.release();
  waiting.join();
  EXPECT_TRUE(s.snapshot().empty());
}

}  // namespace
