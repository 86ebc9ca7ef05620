// d2t_emu: an operator's view of an emulated tape library.
//   d2t_emu [-f <library.json>] status   where every cartridge is
//   d2t_emu [-f <library.json>] devices  the devices as the host lists them
//   d2t_emu [-f <library.json>] reset    forget positions, start from the file
// The library file defaults to $D2T_EMULATOR.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "d2t/emulator/library.h"
#include "d2t/emulator/provider.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: d2t_emu [-f <library.json>] status|devices|reset\n");
  return 2;
}

int status(d2t::emulator::Library& lib) {
  std::vector<d2t::emulator::Cartridge_Info> all;
  std::string error;
  if (!lib.cartridges(all, &error)) {
    std::fprintf(stderr, "d2t_emu: %s\n", error.c_str());
    return 1;
  }
  for (const auto& c : all) {
    std::string tag = c.barcode.empty() ? "(no label)" : c.barcode;
    if (c.place == d2t::emulator::Place::DRIVE) {
      std::printf("%s drive %d %s: %s%s, home slot %d\n", c.changer_serial.c_str(),
                  c.drive, c.drive_serial.c_str(), tag.c_str(),
                  c.threaded ? " (loaded)" : " (ejected)", c.home_slot);
    } else {
      std::printf("%s %s %d: %s%s\n", c.changer_serial.c_str(),
                  c.place == d2t::emulator::Place::PORTER ? "porter slot" : "slot",
                  c.slot, tag.c_str(), c.cleaning ? " (cleaning)" : "");
    }
  }
  return 0;
}

int devices(d2t::emulator::Library& lib) {
  for (const auto& d : d2t::emulator::list_devices(*lib.config())) {
    bool changer = d.kind == d2t::scsi::Device_Kind::CHANGER;
    std::printf("%-12s %-10s %-8s %s lun %u", d.sg_name.c_str(),
                d.dev_name.empty() ? "-" : d.dev_name.c_str(),
                changer ? "changer" : "tape", d.target_name.c_str(), d.lun);
    if (changer)
      std::printf("  %s\n", d.changer_serial.c_str());
    else
      std::printf("  %s drive %u\n", d.changer_serial.c_str(), d.drive);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("D2T_EMULATOR");
  std::string file = env ? env : "";
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "-f") == 0) {
    file = argv[i + 1];
    i += 2;
  }
  if (i + 1 != argc || file.empty()) return usage();
  std::string command = argv[i];
  std::string error;
  std::shared_ptr<d2t::emulator::Library> lib = d2t::emulator::Library::open(file, &error);
  if (!lib) {
    std::fprintf(stderr, "d2t_emu: %s\n", error.c_str());
    return 1;
  }
  if (command == "status") return status(*lib);
  if (command == "devices") return devices(*lib);
  if (command == "reset") {
    if (lib->reset(&error)) return 0;
    std::fprintf(stderr, "d2t_emu: %s\n", error.c_str());
    return 1;
  }
  return usage();
}
