// An emulated tape library as the devices of a test's host: the library
// file written whole, a fresh emulator provider installed as the tools'
// device provider, and the emulator's own record of each cartridge.
#ifndef TESTING_EMULATED_LIBRARY_H
#define TESTING_EMULATED_LIBRARY_H

#include <string>

namespace test_support {

// Writes `text` as the library file `path` (replacing an earlier one:
// renamed devices and changed faults take effect, cartridge positions
// kept in the state file stay) and installs a provider on it. A file the
// emulator refuses fails the test (ADD_FAILURE) and returns false.
bool install_library(const std::string& path, const std::string& text);

// Where the emulator of the library file `path` has the cartridge
// `barcode`: "slot:<n>", "drive:<n>", "" when it has none, "error: ..."
// when the library does not open.
std::string where_is(const std::string& path, const std::string& barcode);

}  // namespace test_support

#endif
