// Element status of a large emulated library: 50,000 storage slots,
// 64 drives, 40,000 cartridges. Measures changer_status end to end (CDBs,
// emulated transport, decoding, records) and the decoder alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "d2t/emulator/emulator.h"
#include "d2t/scsi/element_status.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"

namespace {

const int SLOTS = 50000;
const int DRIVES = 64;

std::string library_json() {
  std::ostringstream j;
  j << R"({"changers": [{"serial_number": "BIG-LIB", "target_name": "5:0:0",
    "sg_name": "/dev/sg100", "storage_slots": )"
    << SLOTS << R"(, "porter_slots": 16, "drives": [)";
  for (int d = 0; d < DRIVES; ++d) {
    j << (d ? "," : "") << R"({"serial_number": "BIG-DRV-)" << d << R"(", "target_name": "5:0:)"
      << d + 1 << R"(", "sg_name": "/dev/sg)" << 101 + d << R"(", "dev_name": "/dev/st)" << d
      << "\"}";
  }
  j << R"(], "fill": {"cartridges": 40000, "barcode_prefix": "B",
    "barcode_suffix": "L9"}}]})";
  return j.str();
}

class Big_Library {
 public:
  Big_Library() {
    char tmpl[] = "/tmp/d2t_bench_XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    dir_ = tmpl;
    std::string file = (dir_ / "library.json").string();
    std::ofstream(file) << library_json();
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> p = d2t::emulator::make_provider(file, &error);
    if (!p) {
      std::fprintf(stderr, "emulator: %s\n", error.c_str());
      std::abort();
    }
    d2t::tools::set_device_provider(p);
  }
  ~Big_Library() {
    d2t::tools::set_device_provider(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

 private:
  std::filesystem::path dir_;
};

void BM_Changer_Status(benchmark::State& state) {
  Big_Library library;
  for (auto _ : state) {
    d2t::Changer c;
    c.sg_name("/dev/sg100");
    if (!d2t::tools::changer_status(c)) {
      state.SkipWithError("changer_status failed");
      break;
    }
    if (c.medias().size() != SLOTS + 16 || c.drives().size() != DRIVES) {
      state.SkipWithError("wrong element count");
      break;
    }
    benchmark::DoNotOptimize(c.medias().data());
  }
  state.SetItemsProcessed(state.iterations() * (SLOTS + 16 + DRIVES));
}
BENCHMARK(BM_Changer_Status)->Unit(benchmark::kMillisecond);

// The decoder on one 1000-element page of tagged storage descriptors.
void BM_Parse_Element_Status(benchmark::State& state) {
  const std::size_t n = 1000, desc = 12 + 36;
  std::vector<std::uint8_t> data(16 + n * desc, 0);
  data[2] = static_cast<std::uint8_t>(n >> 8);
  data[3] = static_cast<std::uint8_t>(n);
  std::uint32_t report = static_cast<std::uint32_t>(8 + n * desc);
  data[5] = static_cast<std::uint8_t>(report >> 16);
  data[6] = static_cast<std::uint8_t>(report >> 8);
  data[7] = static_cast<std::uint8_t>(report);
  data[8] = 2;
  data[9] = 0x80;
  data[11] = desc;
  std::uint32_t page = static_cast<std::uint32_t>(n * desc);
  data[13] = static_cast<std::uint8_t>(page >> 16);
  data[14] = static_cast<std::uint8_t>(page >> 8);
  data[15] = static_cast<std::uint8_t>(page);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t* d = &data[16 + i * desc];
    d[0] = static_cast<std::uint8_t>((0x1000 + i) >> 8);
    d[1] = static_cast<std::uint8_t>(0x1000 + i);
    d[2] = 1;
    std::snprintf(reinterpret_cast<char*>(d + 12), 36, "B%05zuL9", i);
  }
  std::vector<d2t::scsi::Element> out;
  out.reserve(n);
  for (auto _ : state) {
    out.clear();
    d2t::scsi::Element_Report r;
    if (!d2t::scsi::parse_element_status(data.data(), data.size(), out, r, nullptr)) {
      state.SkipWithError("parse failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Parse_Element_Status);

}  // namespace

BENCHMARK_MAIN();
