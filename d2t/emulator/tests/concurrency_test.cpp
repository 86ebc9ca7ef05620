// Several processes and threads moving cartridges in one library at once,
// and a process killed in the middle of its moves: every cartridge must
// stay in exactly one place.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/library.h"
#include "d2t/emulator/state.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using namespace testing_support;
using test_support::read_file;

const std::string LIB = "LIB-1";
const int SLOTS = 16;
const int CARTRIDGES = 8;

// A random element address of the crowded library.
std::uint16_t any_element(std::mt19937& rng) {
  int n = static_cast<int>(rng() % (SLOTS + 1 + 2));
  if (n < SLOTS) return static_cast<std::uint16_t>(STORAGE_BASE + n);
  if (n == SLOTS) return PORTER_BASE;
  return static_cast<std::uint16_t>(DRIVE_BASE + n - SLOTS - 1);
}

// Moves at random; counts internal failures (state I/O), which must be 0,
// and the moves that changed something.
int random_moves(Library& lib, unsigned seed, int moves, int* done = nullptr) {
  std::mt19937 rng(seed);
  int broken = 0;
  for (int i = 0; i < moves; ++i) {
    std::uint16_t from = any_element(rng), to = any_element(rng);
    Sense_Code s = lib.move_medium(LIB, from, to);
    if (s == sense::HARDWARE_FAILURE) ++broken;
    if (s == sense::OK && from != to && done) ++*done;
  }
  return broken;
}

void expect_each_cartridge_once(Library& lib) {
  std::vector<Cartridge_Info> all;
  std::string error;
  ASSERT_TRUE(lib.cartridges(all, &error)) << error;
  std::set<std::string> seen;
  for (const Cartridge_Info& c : all) EXPECT_TRUE(seen.insert(c.barcode).second) << c.barcode;
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(CARTRIDGES));
}

// 16 slots, a porter and two drives holding 8 cartridges, opened once:
// its state file is written.
class Concurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(file_, R"({"changers": [{"serial_number": "LIB-1", "sg_name": "/dev/sg5",
        "storage_slots": 16, "porter_slots": 1,
        "drives": [{"serial_number": "D0", "sg_name": "/dev/sg6"},
                   {"serial_number": "D1", "sg_name": "/dev/sg7"}],
        "fill": {"cartridges": 8, "capacity": 1}}]})");
    ASSERT_TRUE(Library::open(file_, nullptr));
    start_ = generation();
  }
  // The generation the state file holds now.
  std::uint64_t generation() {
    std::string epoch;
    std::uint64_t generation = 0;
    parse_state_header(read_file(file_ + ".state"), epoch, generation);
    return generation;
  }
  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::uint64_t start_ = 0;
};

TEST_F(Concurrency, ProcessesMovingAtOnceNeverLoseOrDuplicateACartridge) {
  std::vector<pid_t> children;
  for (unsigned p = 0; p < 3; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::shared_ptr<Library> lib = Library::open(file_, nullptr);
      int done = 0;
      int broken = lib ? random_moves(*lib, 17 + p, 150, &done) : 1;
      std::ofstream(dir_.file("moves." + std::to_string(p))) << done;
      ::_exit(broken == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::shared_ptr<Library> lib = Library::open(file_, nullptr);
  ASSERT_TRUE(lib);
  expect_each_cartridge_once(*lib);
  // Every successful move wrote exactly one new generation: no process
  // overwrote another's move with a stale state.
  int total = 0;
  for (unsigned p = 0; p < 3; ++p) {
    int done = -1;
    std::ifstream(dir_.file("moves." + std::to_string(p))) >> done;
    ASSERT_GE(done, 0);
    total += done;
  }
  EXPECT_GT(total, 0);
  EXPECT_EQ(generation() - start_, static_cast<std::uint64_t>(total));
}

TEST_F(Concurrency, ThreadsSharingAndNotSharingALibraryKeepItConsistent) {
  std::shared_ptr<Library> a = Library::open(file_, nullptr);
  std::shared_ptr<Library> b = Library::open(file_, nullptr);
  ASSERT_TRUE(a && b);
  std::vector<std::thread> threads;
  std::atomic<int> broken{0};
  for (unsigned t = 0; t < 4; ++t)
    threads.emplace_back([&, t] { broken += random_moves(t % 2 ? *a : *b, t, 60); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(broken.load(), 0);
  expect_each_cartridge_once(*a);
  expect_each_cartridge_once(*b);
}

TEST_F(Concurrency, KilledWriterLeavesAUsableStateWithEveryCartridgeOnce) {
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::shared_ptr<Library> lib = Library::open(file_, nullptr);
    for (unsigned seed = 1;; ++seed) random_moves(*lib, seed, 10);
  }
  // Let it get well into its moves, then kill it wherever it is.
  while (generation() < start_ + 20) ::usleep(1000);
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);

  // A half-written temporary file from another crash is ignored too.
  write_file(file_ + ".state.tmp.999999", "d2t-emulator-state 1 x");
  std::shared_ptr<Library> lib = Library::open(file_, nullptr);
  ASSERT_TRUE(lib);
  expect_each_cartridge_once(*lib);
  EXPECT_EQ(random_moves(*lib, 99, 20), 0);
  expect_each_cartridge_once(*lib);
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
