// Test fixture: an emulated library in a temporary folder, installed as
// the tools' device provider, with a fake clock for the tools' waits.
#ifndef D2T_TOOLS_TESTS_EMULATED_LIBRARY_H
#define D2T_TOOLS_TESTS_EMULATED_LIBRARY_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"
#include "d2t/scsi/sense.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "testing/emulated_library.h"
#include "testing/temp_dir.h"
#include "testing/wrapping_provider.h"

namespace d2t {
namespace tools {
namespace testing {

using Fake_Clock = Manual_Clock;

inline d2t::scsi::Outcome check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  d2t::scsi::Outcome o;
  o.status = d2t::scsi::STATUS_CHECK_CONDITION;
  o.sense = d2t::scsi::build_fixed_sense(key, asc, ascq);
  return o;
}
inline d2t::scsi::Outcome busy() {
  d2t::scsi::Outcome o;
  o.status = d2t::scsi::STATUS_BUSY;
  return o;
}
inline d2t::scsi::Outcome timed_out() {
  d2t::scsi::Outcome o;
  o.host_status = 0x03;
  return o;
}

// The values joined by '|', to compare many fields of a record at once.
template <class... T>
std::string fields(const T&... v) {
  std::ostringstream out;
  const char* sep = "";
  ((out << sep << v, sep = "|"), ...);
  return out.str();
}

using test_support::Wrapping_Provider;

// The sample library: 24 storage slots and 2 porters; drive 0 is
// "/dev/sg12" ("/dev/st1"), drive 1 is "/dev/sg11" ("/dev/st0"). Slots
// 1-10 hold data cartridges, 12 a cleaning cartridge, 14 a cartridge
// without a readable label (nor a capacity in its memory).
inline const std::string LIBRARY_JSON =
    test_support::read_file(D2T_SOURCE_DIR "/d2t/emulator/samples/library.json");

// status_text() of the library as seeded: slots, then drives.
const std::string SEEDED_SLOTS =
    "1|A00001L9|full 2|A00002L9|full 3|A00003L9|full 4|A00004L9|full 5|A00005L9|full "
    "6|A00006L8|full 7|A00007L8|full 8|A00008L8|full 9|A00009L7|full 10|A00010L7|full "
    "11||empty 12|CLN001L1|full 13||empty 14||full 15||empty 16||empty 17||empty 18||empty "
    "19||empty 20||empty 21||empty 22||empty 23||empty 24||empty 25||empty|p 26||empty|p ";

const std::string SEEDED_DRIVES = "d0|EMU-DRV-0001|@0 d1|EMU-DRV-0002|@0 ";

// LIBRARY_JSON with its "dvcid" replaced and `drive0_keys` added to drive 0.
inline std::string library_text(const std::string& dvcid, const std::string& drive0_keys = "") {
  std::string text = LIBRARY_JSON;
  text.replace(text.find("\"t10\""), 5, "\"" + dvcid + "\"");
  if (!drive0_keys.empty())
    text.insert(text.find("\"dev_name\": \"/dev/st1\""), drive0_keys + ", ");
  return text;
}

class Emulated_Library : public ::testing::Test {
 protected:
  void SetUp() override { start(LIBRARY_JSON); }

  // A fresh library (the earlier one closed): cartridges where `json`
  // seeds them.
  void start(const std::string& json) {
    library_.reset();
    std::remove((file_ + ".state").c_str());
    ASSERT_TRUE(test_support::install_library(file_, json));
    std::string error;
    library_ = d2t::emulator::Library::open(file_, &error);
    ASSERT_TRUE(library_) << error;
    clock_ = std::make_shared<Fake_Clock>();
    set_clock(clock_);
  }

  // Puts `wrap` in front of every device of a fresh emulator provider.
  void wrap(Wrapping_Provider::Wrap wrap) {
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> inner = d2t::emulator::make_provider(file_, &error);
    ASSERT_TRUE(inner) << error;
    set_device_provider(std::make_shared<Wrapping_Provider>(inner, std::move(wrap)));
  }

  void TearDown() override {
    set_device_provider(nullptr);
    set_clock(nullptr);
    library_.reset();
  }

  // Where the emulator says the cartridge `barcode` is: "slot N",
  // "drive N" or "nowhere".
  std::string where(const std::string& barcode) {
    std::string at = test_support::where_is(file_, barcode);
    if (at.empty()) return "nowhere";
    std::replace(at.begin(), at.end(), ':', ' ');
    return at;
  }

  // Every cartridge is in exactly one place: as many as were seeded.
  std::size_t cartridge_count() {
    std::vector<d2t::emulator::Cartridge_Info> all;
    library_->cartridges(all, nullptr);
    return all.size();
  }

  // "slot:tag:state[:p]" for every slot, then "dN:serial:tag@home" for
  // every drive, as changer_status reports them; "failed" when it fails.
  std::string status_text() {
    Changer c;
    if (!read_status(c)) return "failed";
    std::string s;
    for (const Media_var& m : c.medias())
      s += fields(m->slot_number(), m->media_tag(), media_state_to_name(m->state())) +
           (m->is_porter() ? "|p " : " ");
    for (const Drive_var& d : c.drives())
      s += "d" + fields(d->drive_number(), d->serial_number(), d->media_tag()) + "@" +
           std::to_string(d->slot_number()) + " ";
    return s;
  }
  bool read_status(Changer& c) {
    c.sg_name(CHANGER);
    return changer_status(c);
  }

  const std::string CHANGER = "/dev/sg10";
  const std::string DRIVE0_SG = "/dev/sg12";
  const std::string DRIVE0_NST = "/dev/nst1";
  const std::string DRIVE1_SG = "/dev/sg11";
  test_support::Temp_Dir dir_{"d2t_tools"};
  const std::string file_ = dir_.file("library.json");
  std::shared_ptr<d2t::emulator::Library> library_;
  std::shared_ptr<Fake_Clock> clock_;
  bool count_ = false;  // count_failure of the last mount or unmount
};

}  // namespace testing
}  // namespace tools
}  // namespace d2t

#endif
