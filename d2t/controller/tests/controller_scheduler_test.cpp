// The per-library queues: who runs together, who waits, in which order, and
// what the operations snapshot shows; and the drive reservations of a scan
// that identifies drives by loading. Waiting is observed through the
// snapshot, the event listener and the order of events, never through time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "d2t/controller/drive_reservations.h"
#include "d2t/controller/library_scheduler.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/tests/support/controller_fixture.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using controller_test::eventually;
using controller_test::queue_of;
using json_spirit::Array;
using json_spirit::Object;

namespace {

Library_Operation op(Library_Operation::Kind kind, const std::string& drive = "") {
  Library_Operation o;
  o.kind = kind;
  o.drive = drive;
  return o;
}

// An operation entered on a thread of its own; once enter() returned
// ("started": it runs, or was turned away, or joined another) it holds its
// place until finish().
class Client {
 public:
  Client(Library_Scheduler& s, const std::string& library, const Library_Operation& o,
         const Queue_Caller& caller = Queue_Caller())
      : started_future_(started_.get_future()), finish_future_(finish_.get_future()) {
    thread_ = std::thread([this, &s, library, o, caller] {
      Library_Scheduler::Ticket t = s.enter(library, o, caller);
      held_ = t.held();
      refusal_ = t.refusal();
      joined_ = t.joined();
      started_.set_value();
      finish_future_.wait();
    });
  }
  ~Client() {
    finish();
    thread_.join();
  }
  void wait_started() {
    ASSERT_EQ(std::future_status::ready, started_future_.wait_for(std::chrono::seconds(60)));
  }
  void finish() {
    if (!finished_) finish_.set_value();
    finished_ = true;
  }
  // After wait_started().
  bool held() const { return held_; }
  Queue_Refusal refusal() const { return refusal_; }
  bool joined() const { return joined_; }

 private:
  std::promise<void> started_, finish_;
  std::future<void> started_future_, finish_future_;
  bool finished_ = false;
  bool held_ = false;
  Queue_Refusal refusal_ = Queue_Refusal::NONE;
  bool joined_ = false;
  std::thread thread_;
};

// Waits until the library's queue reads `expected`.
void expect_queue(const Library_Scheduler& s, const std::string& library,
                  const std::string& expected) {
  eventually([&] { return queue_of(s.snapshot(), library) == expected; });
  EXPECT_EQ(expected, queue_of(s.snapshot(), library));
}

// Loads of different drives overlap, one drive's operations take turns, a
// waiting refresh holds back every later arrival and starts as soon as
// the operations that came before it are done. try_enter never waits: it
// runs only on an idle library.
TEST(Library_Scheduler, ArrivalOrderDecidesAndNothingStarves) {
  Library_Scheduler s;
  Client load0(s, "LIB", op(Library_Operation::LOAD, "D0"));
  load0.wait_started();
  EXPECT_FALSE(s.try_enter("LIB", op(Library_Operation::RESCAN)).held());
  EXPECT_TRUE(s.try_enter("LIB-C", op(Library_Operation::RESCAN)).held());
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
  refresh.finish();
  load2.wait_started();
  load2.finish();
  other.finish();
  expect_queue(s, "LIB", "");
  EXPECT_TRUE(eventually([&] { return s.libraries() == 0; }));  // entries exist only while used
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
        const Library_Operation o =
            t == 0 ? op(Library_Operation::TRANSFER)
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
  // Started 1000000 ms after the epoch (the manual clock's start).
  EXPECT_EQ(R"([{"drive":null,"id":1,"kind":"transfer","media_tag":"A00001L9","seconds":3.0,)"
            R"("slots":[3,7],"started_at":"1970-01-01T00:16:40Z"}])",
            json_spirit::JSON_Dump(lib.at("running")));
  EXPECT_EQ(R"([{"drive":"DRV-1","id":2,"kind":"load","media_tag":"A00002L9",)"
            R"("queued_at":"1970-01-01T00:16:42Z","seconds":1.0,"slots":[]}])",
            json_spirit::JSON_Dump(lib.at("queued")));
  t.release();
  waiting.join();
  EXPECT_TRUE(s.snapshot().empty());
}

Queue_Caller wanted_while(const std::atomic<bool>& here, bool may_join = false) {
  Queue_Caller c;
  c.still_wanted = [&here] { return here.load(); };
  c.may_join = may_join;
  return c;
}

// Turned away without starting: waiting and new operations once stopped
// (the running one goes on), an operation that waited past the time-out
// (on the scheduler's clock) and one that finds the library's waiting
// room full. A stopped scheduler that resumes serves again.
TEST(Library_Scheduler, StopTimeOutAndBoundTurnOperationsAway) {
  auto clock = std::make_shared<Manual_Controller_Clock>();
  Library_Scheduler s(clock);
  std::atomic<int> starts{0};
  s.listener([&](const Library_Scheduler::Event& e) { starts += e.started; });
  s.limits(60, 2);
  Client running(s, "LIB", op(Library_Operation::RESCAN));
  running.wait_started();
  Client waited(s, "LIB", op(Library_Operation::LOAD, "D0"));
  expect_queue(s, "LIB", "run rescan/ | wait load/D0");
  clock->sleep_seconds(30);
  Client later(s, "LIB", op(Library_Operation::LOAD, "D1"));
  expect_queue(s, "LIB", "run rescan/ | wait load/D0 load/D1");
  EXPECT_EQ(Queue_Refusal::FULL, s.enter("LIB", op(Library_Operation::UNLOAD, "D2")).refusal());
  EXPECT_STREQ("Too many operations waiting for the library",
               queue_refusal_message(Queue_Refusal::FULL));

  clock->sleep_seconds(31);  // the first waited 61 s, the second 31 s
  s.wake();
  waited.wait_started();
  EXPECT_EQ(Queue_Refusal::TIMED_OUT, waited.refusal());
  expect_queue(s, "LIB", "run rescan/ | wait load/D1");

  s.stop();
  later.wait_started();
  EXPECT_EQ(Queue_Refusal::STOPPING, later.refusal());
  EXPECT_EQ(Queue_Refusal::STOPPING, s.enter("LIB-B", op(Library_Operation::REFRESH)).refusal());
  EXPECT_FALSE(s.try_enter("LIB-C", op(Library_Operation::RESCAN)).held());
  expect_queue(s, "LIB", "run rescan/ | wait");
  running.finish();
  EXPECT_EQ(1, starts.load());  // the rescan alone

  s.resume();
  s.limits(60, 0);  // no waiting room: an operation that need not wait still runs
  EXPECT_TRUE(s.enter("LIB-D", op(Library_Operation::LOAD, "D0")).held());
}

// The lease across hosts is waited for as the ticket is: another host
// holding it exclusively forever turns the operation away once the queue
// time-out has passed (on the scheduler's clock), at once when the
// scheduler stops, or when its client goes away; the ticket goes back each
// time, and the lease is granted once free. Needs the PostgreSQL server of D2T_TEST_PGSQL.
TEST(Library_Scheduler, LeaseWaitEndsAtTheQueueTimeOutOrAStop) {
  const char* url = std::getenv("D2T_TEST_PGSQL");
  if (url == nullptr || *url == 0) GTEST_SKIP() << "D2T_TEST_PGSQL is not set";
  database::sql::Legacy_Manager* manager = database::sql::Legacy_Manager::instance();
  ASSERT_TRUE(manager->configure(url));
  const std::string library = "LEASE-" + std::to_string(::getpid());
  std::string error;
  database::sql::Advisory_Lock other_host;
  ASSERT_TRUE(database::sql::Advisory_Lock::take("media_controller", robot_lease_key(library),
                                                 database::sql::Advisory_Lock::EXCLUSIVE, false,
                                                 other_host, error))
      << error;

  auto clock = std::make_shared<Manual_Controller_Clock>();
  Library_Scheduler s(clock);
  s.limits(60, 8);
  std::atomic<bool> client{true};
  const auto turned_away = [&](const std::function<void()>& meanwhile) {
    auto waiter = std::async(std::launch::async, [&] {
      Library_Turn turn;
      std::string why;
      const bool held =
          turn.enter(s, library, op(Library_Operation::LOAD, "D0"), why, wanted_while(client));
      return held ? Queue_Refusal::NONE : turn.ticket().refusal();
    });
    // Waiting for the lease: the ticket runs, the lease does not come.
    EXPECT_EQ(std::future_status::timeout, waiter.wait_for(std::chrono::milliseconds(600)));
    expect_queue(s, library, "run load/D0 | wait");
    meanwhile();
    const bool ended = waiter.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(ended);
    if (!ended) s.stop();  // a wait that missed its end must not hang the test
    EXPECT_EQ(0u, s.libraries());
    return waiter.get();
  };
  EXPECT_EQ(Queue_Refusal::TIMED_OUT, turned_away([&] { clock->sleep_seconds(61); }));
  EXPECT_EQ(Queue_Refusal::ABANDONED, turned_away([&] { client = false; }));
  client = true;
  EXPECT_EQ(Queue_Refusal::STOPPING, turned_away([&] { s.stop(); }));

  s.resume();
  other_host.release();
  Library_Turn turn;
  EXPECT_TRUE(turn.enter(s, library, op(Library_Operation::REFRESH), error)) << error;
  turn.release();
  manager->configure(std::string());
}

// A waiting operation whose client went away is dropped, before it starts
// or while it still waits (seen at the next poll), and the operations
// behind it go on; a joined operation runs while any of its callers is
// still there; an operation of another kind never joins.
TEST(Library_Scheduler, OperationsWhoseClientsWentAwayNeverStart) {
  Library_Scheduler s;
  s.poll_interval(std::chrono::milliseconds(10));
  std::atomic<int> starts{0};
  s.listener([&](const Library_Scheduler::Event& e) { starts += e.started; });
  std::atomic<bool> there{true}, gone{false}, leaves{true}, leader{true};
  Client running(s, "LIB", op(Library_Operation::LOAD, "D0"));
  running.wait_started();
  Client dropped(s, "LIB", op(Library_Operation::UNLOAD, "D0"), wanted_while(leaves));
  expect_queue(s, "LIB", "run load/D0 | wait unload/D0");  // each client has its own thread
  Client refresh(s, "LIB", op(Library_Operation::REFRESH), wanted_while(leader, true));
  expect_queue(s, "LIB", "run load/D0 | wait unload/D0 refresh/");
  Client joined(s, "LIB", op(Library_Operation::REFRESH), wanted_while(there, true));
  ASSERT_TRUE(eventually([&] { return s.joined("LIB") == 1u; })) << s.joined("LIB");
  Client rescan(s, "LIB", op(Library_Operation::RESCAN), wanted_while(there, true));
  expect_queue(s, "LIB", "run load/D0 | wait unload/D0 refresh/ rescan/");
  leader = false;
  leaves = false;  // while the load still runs
  dropped.wait_started();
  EXPECT_EQ(Queue_Refusal::ABANDONED, dropped.refusal());
  expect_queue(s, "LIB", "run load/D0 | wait refresh/ rescan/");

  running.finish();
  refresh.wait_started();
  EXPECT_TRUE(refresh.held());  // its own client left, the joined one did not
  refresh.finish();
  joined.wait_started();
  EXPECT_TRUE(joined.joined());
  rescan.wait_started();
  EXPECT_TRUE(rescan.held());
  rescan.finish();

  Client alone(s, "LIB", op(Library_Operation::RESCAN), wanted_while(gone));
  alone.wait_started();  // nothing to wait for, yet asked before it starts
  EXPECT_EQ(Queue_Refusal::ABANDONED, alone.refusal());
  EXPECT_EQ(3, starts.load());  // the load, the refresh and the rescan
}

// A reservation waits for the uses of its drives and holds back new uses
// from the moment it waits; a drive it does not name is never waited for;
// holds give their drives back when they go out of scope.
TEST(Drive_Reservations, ReservationWaitsForUsesAndHoldsNewOnesBack) {
  Drive_Reservations drives;
  std::mutex m;
  std::vector<std::string> events;
  auto log = [&](const std::string& e) {
    std::lock_guard<std::mutex> g(m);
    events.push_back(e);
  };
  std::promise<void> end_scan;
  std::thread scan, load;
  {
    Drive_Reservations::Hold loading = drives.use("D1");
    scan = std::thread([&] {
      Drive_Reservations::Hold candidates = drives.reserve({"D1", "D2"});
      log("reserved");
      end_scan.get_future().wait();
      log("scan ends");
    });
    EXPECT_TRUE(eventually([&] { return drives.held_back("D2"); }));
    EXPECT_FALSE(drives.reserved("D1"));  // waits for the load of D1
    load = std::thread([&] {
      Drive_Reservations::Hold d2 = drives.use("D2");
      log("D2 used");
    });
    { Drive_Reservations::Hold other = drives.use("D3"); }
    log("D1 released");
  }
  EXPECT_TRUE(eventually([&] { return drives.reserved("D1") && drives.reserved("D2"); }));
  end_scan.set_value();
  scan.join();
  load.join();
  EXPECT_EQ((std::vector<std::string>{"D1 released", "reserved", "scan ends", "D2 used"}), events);
  EXPECT_FALSE(drives.held_back("D1") || drives.held_back("D2"));
}

}  // namespace
