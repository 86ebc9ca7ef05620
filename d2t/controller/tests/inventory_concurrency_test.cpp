// Many threads using one inventory object on one database at once: every
// operation succeeds (no "database is locked") and no update is lost.
#include <atomic>
#include <thread>

#include "d2t/controller/tests/inventory_fixture.h"
#include "d2t/util/media.h"

namespace inventory_test {
namespace {

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

const int THREADS = 8;
const int SLOTS = 10;
const int ROUNDS = 20;

class Inventory_Concurrency_Test : public Inventory_Test {
 protected:
  // One worker: its own library, written and read back round after round,
  // interleaved with resets that touch every row of every library.
  void work(int t) {
    ACE_Log_Msg* log = ACE_LOG_MSG;
    log->msg_callback(&capture_);
    log->set_flags(ACE_Log_Msg::MSG_CALLBACK);
    log->clr_flags(ACE_Log_Msg::STDERR);

    const std::string serial = "LIB" + std::to_string(t);
    const std::string dev = "/dev/nst" + std::to_string(t);
    long long changer = impl_.add_changer(changer_data(serial));
    check(changer > 0, "add_changer");
    long long drive = impl_.add_drive(drive_data(changer, 0, "DRV" + std::to_string(t), dev));
    check(drive > 0, "add_drive");
    for (int s = 1; s <= SLOTS; ++s) {
      d2t::Media m;
      m.slot_number(s);
      m.media_tag(s == 1 ? serial + "-T" : std::string());
      check(impl_.add_slot(changer, m) > 0, "add_slot");
    }

    // The cartridge walks from slot to slot; the drive counts rounds.
    for (int round = 0; round < ROUNDS; ++round) {
      int from = round % SLOTS + 1;
      int to = from % SLOTS + 1;
      Object from_rec, to_rec;
      check(impl_.get_slot(serial, from, from_rec), "get_slot from");
      check(impl_.get_slot(serial, to, to_rec), "get_slot to");
      check(impl_.transfer(from_rec, to_rec), "transfer");
      check(impl_.set_drive_name(drive, "/dev/sg" + std::to_string(t), dev), "set_drive_name");
      check(impl_.update_drive_failure(dev, round + 1), "update_drive_failure");
      // Keyed by serial: unlike the device name, no reset clears it.
      check(impl_.set_drive_slot("DRV" + std::to_string(t), static_cast<ACE_INT64>(to)),
            "set_drive_slot");
      Object d;
      check(impl_.get_tape_device("DRV" + std::to_string(t), d), "get_tape_device");
      Array slots;
      check(impl_.get_slots(changer, slots) && slots.size() == SLOTS, "get_slots");
      if (round % 5 == t % 5) check(impl_.reset(), "reset");
    }
    log->msg_callback(nullptr);
    log->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
  }

  void check(bool ok, const char* what) {
    if (ok) return;
    failures_++;
    std::lock_guard<std::mutex> lock(mutex_);
    failed_.push_back(what);
  }

  std::atomic<int> failures_{0};
  std::mutex mutex_;
  std::vector<std::string> failed_;
};

TEST_P(Inventory_Concurrency_Test, ConcurrentWritersAndReadersAllSucceedAndLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) threads.emplace_back([this, t] { work(t); });
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(0, failures_.load()) << ::testing::PrintToString(failed_);
  EXPECT_EQ(std::vector<std::string>(), logged());

  // Each library ends with its one cartridge where the last transfer put
  // it, and its drive showing that slot. (The failure count is keyed by
  // device name, which another thread's reset may have cleared at that
  // moment, so it is not checked here.)
  const int last_from = (ROUNDS - 1) % SLOTS + 1;
  const int final_slot = last_from % SLOTS + 1;
  for (int t = 0; t < THREADS; ++t) {
    const std::string serial = "LIB" + std::to_string(t);
    Object changer;
    ASSERT_TRUE(impl_.get_changer(serial, changer));
    long long id = changer["id"].get_int64();
    EXPECT_EQ(1, scalar("SELECT count(*) FROM slot WHERE media_tag IS NOT NULL AND changer_id=:id",
                        id))
        << serial;
    Object s;
    ASSERT_TRUE(impl_.get_slot(serial + "-T", s)) << serial;
    EXPECT_EQ(Value(final_slot), s["slot_number"]) << serial;
    Object d;
    ASSERT_TRUE(impl_.get_drive("DRV" + std::to_string(t), d));
    EXPECT_EQ(Value(final_slot), d["slot_number"]) << serial;
  }
  EXPECT_EQ(THREADS * SLOTS, scalar("SELECT count(*) FROM slot"));
}

INSTANTIATE_TEST_SUITE_P(Engines, Inventory_Concurrency_Test, ::testing::Values(SQLITE, PGSQL),
                         engine_name);

}  // namespace
}  // namespace inventory_test
