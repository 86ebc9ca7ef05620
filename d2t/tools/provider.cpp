#include "d2t/tools/provider.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "d2t/emulator/emulator.h"
#include "d2t/emulator/provider.h"
#include "d2t/scsi/sysfs_provider.h"
#include "d2t/tools/tools.h"

namespace d2t {
namespace tools {

namespace {

class Steady_Clock : public Clock {
 public:
  std::uint64_t now_ms() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  void sleep_ms(std::uint64_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

struct Seams {
  std::mutex mutex;
  std::shared_ptr<d2t::scsi::Device_Provider> chosen;    // default choice
  std::shared_ptr<d2t::scsi::Device_Provider> injected;  // test seam
  std::shared_ptr<Clock> clock;
};

Seams& seams() {
  static Seams s;
  return s;
}

}  // namespace

void set_device_provider(std::shared_ptr<d2t::scsi::Device_Provider> provider) {
  Seams& s = seams();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.injected = std::move(provider);
}

std::shared_ptr<d2t::scsi::Device_Provider> device_provider(std::string* error) {
  Seams& s = seams();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.injected) return s.injected;
  if (s.chosen) return s.chosen;
  const char* emulator = std::getenv("D2T_EMULATOR");
  if (emulator && *emulator) {
    std::string why;
    std::unique_ptr<d2t::scsi::Device_Provider> p = d2t::emulator::make_provider(emulator, &why);
    if (!p) {
      if (error) *error = "cannot open emulated library " + std::string(emulator) + ": " + why;
      return nullptr;
    }
    s.chosen = std::move(p);
  } else {
    s.chosen = std::make_shared<d2t::scsi::Sysfs_Device_Provider>("/sys", "/dev");
  }
  return s.chosen;
}

bool on_emulator(std::string* file) {
  const char* emulator = std::getenv("D2T_EMULATOR");
  const std::string named = emulator ? emulator : "";
  if (file) *file = named;
  Seams& s = seams();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.injected)
    return dynamic_cast<d2t::emulator::Emulated_Provider*>(s.injected.get()) != nullptr;
  return !named.empty();
}

void set_clock(std::shared_ptr<Clock> c) {
  Seams& s = seams();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.clock = std::move(c);
}

std::shared_ptr<Clock> clock() {
  Seams& s = seams();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.clock) s.clock = std::make_shared<Steady_Clock>();
  return s.clock;
}

}  // namespace tools

bool refresh_devices() {
  tools::Seams& s = tools::seams();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.chosen.reset();
  return true;
}

}  // namespace d2t
