// Speed of the emulated library at 50,000 slots and 64 drives: a full
// element status read, a move (state write), and the re-read another
// process's change forces. Run by hand; not a test.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"

namespace {

using namespace d2t::emulator;

const int SLOTS = 50000;
const int DRIVES = 64;

struct Big_Library {
  Big_Library() {
    char pattern[] = "/tmp/d2t_emu_bench_XXXXXX";
    dir = ::mkdtemp(pattern);
    file = dir + "/library.json";
    std::ofstream out(file);
    out << R"({"changers": [{"serial_number": "BIG", "sg_name": "/dev/sg100",
        "storage_slots": )" << SLOTS << R"(, "porter_slots": 16, "drives": [)";
    for (int d = 0; d < DRIVES; ++d)
      out << (d ? "," : "") << R"({"serial_number": "DRV)" << d
          << R"(", "sg_name": "/dev/sg)" << 200 + d << R"("})";
    out << R"(], "fill": {"cartridges": 40000, "capacity": 18000000000000}}]})";
  }
  ~Big_Library() {
    std::string cmd = "rm -rf '" + dir + "'";
    if (::system(cmd.c_str()) != 0) {
    }
  }
  std::string dir, file;
};

void BM_FullElementStatus(benchmark::State& state) {
  Big_Library big;
  auto provider = make_provider(big.file, nullptr);
  auto changer = provider->open("/dev/sg100", nullptr);
  std::vector<std::uint8_t> data(4 << 20);
  std::uint8_t cdb[12] = {0xB8, 0x10, 0, 0, 0xFF, 0xFF, 0x01,
                          static_cast<std::uint8_t>(data.size() >> 16),
                          static_cast<std::uint8_t>(data.size() >> 8),
                          static_cast<std::uint8_t>(data.size()), 0, 0};
  d2t::scsi::Command cmd;
  cmd.cdb = cdb;
  cmd.cdb_len = sizeof cdb;
  cmd.direction = d2t::scsi::Direction::FROM_DEVICE;
  cmd.data = data.data();
  cmd.data_len = data.size();
  for (auto _ : state) {
    d2t::scsi::Outcome out = changer->execute(cmd);
    benchmark::DoNotOptimize(out.resid);
  }
}
BENCHMARK(BM_FullElementStatus)->Unit(benchmark::kMillisecond);

void BM_Move(benchmark::State& state) {
  Big_Library big;
  auto lib = Library::open(big.file, nullptr);
  bool there = false;
  for (auto _ : state) {
    std::uint16_t a = STORAGE_BASE, b = STORAGE_BASE + SLOTS - 1;
    benchmark::DoNotOptimize(there ? lib->move_medium("BIG", b, a)
                                   : lib->move_medium("BIG", a, b));
    there = !there;
  }
}
BENCHMARK(BM_Move)->Unit(benchmark::kMillisecond);

// A second view must re-read the state after each of the first's moves.
void BM_MoveThenReadElsewhere(benchmark::State& state) {
  Big_Library big;
  auto writer = Library::open(big.file, nullptr);
  auto reader = Library::open(big.file, nullptr);
  Cartridge_State c;
  bool there = false;
  for (auto _ : state) {
    std::uint16_t a = STORAGE_BASE, b = STORAGE_BASE + SLOTS - 1;
    there ? writer->move_medium("BIG", b, a) : writer->move_medium("BIG", a, b);
    there = !there;
    benchmark::DoNotOptimize(reader->loaded_cartridge("BIG", 0, c));
  }
}
BENCHMARK(BM_MoveThenReadElsewhere)->Unit(benchmark::kMillisecond);

// Nothing changed: the check costs a stat, a lock and a header read.
void BM_UnchangedStateCheck(benchmark::State& state) {
  Big_Library big;
  auto lib = Library::open(big.file, nullptr);
  Cartridge_State c;
  for (auto _ : state) benchmark::DoNotOptimize(lib->loaded_cartridge("BIG", 0, c));
}
BENCHMARK(BM_UnchangedStateCheck)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
