// d2t_capture: records how a tape library answers read-only SCSI commands,
// into a file the emulator replays (see capturer.h and capture_file.h).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "d2t/capture/capture_file.h"
#include "d2t/capture/capturer.h"
#include "d2t/capture/private_file.h"
#include "d2t/tools/provider.h"

namespace {

const char USAGE[] =
    "usage: d2t_capture DEVICE [--drives] [-o FILE]\n"
    "\n"
    "Records how the medium changer DEVICE (e.g. /dev/sg3) answers: standard\n"
    "INQUIRY and every vital product data page, MODE SENSE pages 0x1D, 0x1E\n"
    "and 0x1F, and READ ELEMENT STATUS of every element type with volume tags,\n"
    "with and without device identifiers. The file can be replayed by the\n"
    "emulator: a changer {\"capture\": \"FILE\"} in a library file.\n"
    "\n"
    "  --drives   also record the identity (INQUIRY, VPD pages) of every tape\n"
    "             drive the host lists\n"
    "  -o FILE    write the capture to FILE, readable by its owner only, through\n"
    "             a new temporary file beside it (default: standard output)\n"
    "\n"
    "Only read-only commands are sent (INQUIRY, MODE SENSE, READ ELEMENT STATUS,\n"
    "TEST UNIT READY, REQUEST SENSE): it never moves, initialises, loads, unloads\n"
    "or writes anything.\n"
    "\n"
    "The capture holds the devices' serial numbers and the cartridges' barcodes:\n"
    "look at it before sharing it.\n"
    "\n"
    "With D2T_EMULATOR set, the emulated library of that file is read instead\n"
    "of the host's devices.\n"
    "Exit status: 0 written, 1 the changer could not be read, 2 usage.\n";

// Standard output, or FILE written privately: the capture holds serial
// numbers and barcodes, and the program often runs as root.
bool write_output(const std::string& path, const std::string& text, std::string& error) {
  if (path.empty() || path == "-") {
    std::cout << text;
    std::cout.flush();
    return static_cast<bool>(std::cout);
  }
  return d2t::capture::write_private_file(path, text, error);
}

}  // namespace

int main(int argc, char** argv) {
  std::string device, output;
  bool drives = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << USAGE;
      return 0;
    } else if (a == "--drives") {
      drives = true;
    } else if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (!a.empty() && a[0] != '-' && device.empty()) {
      device = a;
    } else {
      std::cerr << USAGE;
      return 2;
    }
  }
  if (device.empty()) {
    std::cerr << USAGE;
    return 2;
  }
  std::string error;
  std::shared_ptr<d2t::scsi::Device_Provider> provider = d2t::tools::device_provider(&error);
  if (!provider) {
    std::cerr << "d2t_capture: " << error << "\n";
    return 1;
  }
  d2t::capture::Capture capture;
  std::vector<std::string> warnings;
  const bool ok =
      d2t::capture::capture_devices(*provider, device, drives, capture, error, &warnings);
  for (const std::string& w : warnings) std::cerr << "d2t_capture: " << w << "\n";
  if (!ok) {
    std::cerr << "d2t_capture: " << device << ": " << error << "\n";
    return 1;
  }
  if (!write_output(output, d2t::capture::write_capture(capture), error)) {
    std::cerr << "d2t_capture: " << error << "\n";
    return 1;
  }
  return 0;
}
