#include "testing/emulated_library.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"
#include "d2t/tools/provider.h"
#include "testing/temp_dir.h"

namespace test_support {

bool install_library(const std::string& path, const std::string& text) {
  if (!write_file(path, text)) return false;
  std::string error;
  std::shared_ptr<d2t::scsi::Device_Provider> provider = d2t::emulator::make_provider(path, &error);
  if (!provider) {
    ADD_FAILURE() << "emulated library " << path << ": " << error;
    return false;
  }
  d2t::tools::set_device_provider(provider);
  return true;
}

std::string where_is(const std::string& path, const std::string& barcode) {
  std::string error;
  std::shared_ptr<d2t::emulator::Library> lib = d2t::emulator::Library::open(path, &error);
  std::vector<d2t::emulator::Cartridge_Info> carts;
  if (!lib || !lib->cartridges(carts, &error)) return "error: " + error;
  for (const d2t::emulator::Cartridge_Info& c : carts) {
    if (c.barcode != barcode) continue;
    if (c.place == d2t::emulator::Place::DRIVE) return "drive:" + std::to_string(c.drive);
    return "slot:" + std::to_string(c.slot);
  }
  return "";
}

}  // namespace test_support
