// Drive identification end to end: the demo daemon lists the sample
// library (its changer reports T10 drive identifiers) and then the same
// library with "dvcid": "none", where the drives are found by loading.
// Both give the same drive mapping; the list reply, the inventory (read
// with sqlite3) and the emulated library (read with mtx) agree. And a scan
// by loading of one library while clients load and unload cartridges in
// another library's drives: no drive changes library, no client's
// cartridge is moved by the scan.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/system/system_support.h"

using namespace system_test;

namespace {

class E2E_Identity_Test : public Temp_Dir {};

TEST_F(E2E_Identity_Test, IdentifiersAndLoadingGiveTheSameMapping) {
  Demo_Daemon d(dir_ + "/run");
  std::string error;
  ASSERT_TRUE(d.start(error)) << error;

  // The list reply's drives and tagged slots (it pairs no drive with a
  // slot) against the inventory and the emulated library.
  const Library_View by_identifier = library_reply(d, "list");
  ASSERT_TRUE(by_identifier.ok) << by_identifier.error;
  EXPECT_NE(std::string::npos, d.log_text().find("2 by serial number")) << d.log_text();
  const Library_View stored = sqlite_view(d.db_file(), SERIAL);
  EXPECT_EQ(by_identifier.drive_names, stored.drive_names) << stored.error;
  EXPECT_EQ(by_identifier.slots, stored.slots);
  const Library_View mtx = mtx_view(d.library_file(), CHANGER_SG);
  ASSERT_TRUE(mtx.ok) << mtx.error;
  EXPECT_EQ(mtx.slots, by_identifier.slots);

  ASSERT_NO_FATAL_FAILURE(set_changer_key(d.library_file(), "dvcid", "\"none\""));
  const Library_View by_loading = library_reply(d, "list");
  ASSERT_TRUE(by_loading.ok) << by_loading.error;
  EXPECT_NE(std::string::npos, d.log_text().find("0 by serial number")) << d.log_text();
  EXPECT_EQ(by_identifier.drive_names, by_loading.drive_names);
  EXPECT_EQ(by_identifier.slots, by_loading.slots);
  EXPECT_EQ(by_loading.drive_names, sqlite_view(d.db_file(), SERIAL).drive_names);
  EXPECT_EQ(0, d.stop());
}

// Two libraries in one emulated file, with short mechanical times. LIB-B
// (/dev/sg20, drives /dev/sg21-22) is listed first. LIB-A (/dev/sg30,
// drives /dev/sg31-32 behind another SCSI target than the changer's)
// reports no drive identifiers, so its scan loads its elements and watches
// the host drives in listing order: B's drives would be watched first were
// they candidates. A's drives are ready as soon as a cartridge is in them
// (the scan polls every 3 s: a drive loading for longer would cost 3 s per
// element). Drive i of library X is "X-DRV-i"; cartridges "XX0000nL9" in
// slots 1..4.
const char TWO_LIBRARIES[] = R"({"timing": {"move_ms": 50, "load_ms": 100, "unload_ms": 100},
"changers": [
  {"serial_number": "LIB-B", "target_name": "21:0:0", "sg_name": "/dev/sg20", "storage_slots": 6,
   "dvcid": "none", "drives": [
     {"serial_number": "B-DRV-0", "target_name": "20:0:0", "sg_name": "/dev/sg21",
      "dev_name": "/dev/st4"},
     {"serial_number": "B-DRV-1", "target_name": "20:0:1", "sg_name": "/dev/sg22",
      "dev_name": "/dev/st5"}],
   "cartridges": [{"slot": 1, "barcode": "BB00001L9"}, {"slot": 2, "barcode": "BB00002L9"},
                  {"slot": 3, "barcode": "BB00003L9"}, {"slot": 4, "barcode": "BB00004L9"}]},
  {"serial_number": "LIB-A", "target_name": "31:0:0", "sg_name": "/dev/sg30", "storage_slots": 6,
   "dvcid": "none", "timing": {"move_ms": 50, "load_ms": 0, "unload_ms": 0}, "drives": [
     {"serial_number": "A-DRV-0", "target_name": "30:0:0", "sg_name": "/dev/sg31",
      "dev_name": "/dev/st6"},
     {"serial_number": "A-DRV-1", "target_name": "30:0:1", "sg_name": "/dev/sg32",
      "dev_name": "/dev/st7"}],
   "cartridges": [{"slot": 1, "barcode": "AA00001L9"}, {"slot": 2, "barcode": "AA00002L9"},
                  {"slot": 3, "barcode": "AA00003L9"}, {"slot": 4, "barcode": "AA00004L9"}]}]})";

// A client of LIB-B: loads its cartridge (home slot `home`) into drive
// `drive_number` and unloads it, again and again until `stop`. After every
// answer the emulated library must hold the cartridge where the answer
// says it is (a failed operation leaves it where it was); what disagrees
// is added to `faults`.
void drive_client(const Demo_Daemon& d, int drive_number, int home, std::atomic<bool>& stop,
                  std::atomic<int>& loads, std::string& faults) {
  const std::string drive = "B-DRV-" + std::to_string(drive_number);
  const std::string tag = "BB0000" + std::to_string(home) + "L9";
  bool in_drive = false;
  auto check = [&](const char* after) {
    const Library_View v = mtx_view(d.library_file(), "/dev/sg20");
    auto held = v.drives.find(drive_number);
    const bool there =
        in_drive ? held != v.drives.end() && held->second == home
                 : held == v.drives.end() && v.slots.count(home) == 1 && v.slots.at(home) == tag;
    if (!there) faults += drive + " after " + after + ": " + (v.ok ? describe(v) : v.error) + "\n";
  };
  while (!stop.load()) {
    if (d.post("/d2/r/tapectl/drive/load", drive_body(drive, tag)).status == 200) {
      in_drive = true;
      ++loads;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    check("holding");
    if (d.post("/d2/r/tapectl/drive/unload", drive_body(drive)).status == 200) in_drive = false;
    check("unload");
  }
}

TEST_F(E2E_Identity_Test, ScanByLoadingNeverTakesADriveOfAnotherLibraryInUse) {
  ASSERT_EQ(0, ::system(("mkdir -p " + shell_quote(dir_ + "/run")).c_str()));
  ASSERT_TRUE(write_file(dir_ + "/run/library.json", TWO_LIBRARIES));
  Demo_Daemon d(dir_ + "/run");
  std::string error;
  ASSERT_TRUE(d.start(error)) << error;
  const std::string db = d.db_file();
  const std::string drives_a = "0:A-DRV-0:/dev/st6:/dev/sg31 1:A-DRV-1:/dev/st7:/dev/sg32 ";
  const std::string drives_b = "0:B-DRV-0:/dev/st4:/dev/sg21 1:B-DRV-1:/dev/st5:/dev/sg22 ";
  ASSERT_EQ(drives_b, library_reply(d, "list", "LIB-B").drive_names);

  // Both clients work B's drives all along; A is rescanned 20 times.
  std::atomic<int> loads{0};
  std::atomic<bool> stop{false};
  std::string faults[2];
  std::vector<std::thread> clients;
  for (int n = 0; n < 2; ++n)
    clients.emplace_back(drive_client, std::cref(d), n, n + 1, std::ref(stop), std::ref(loads),
                         std::ref(faults[n]));
  for (int run = 0; run < 20 && !HasFailure(); ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const Library_View a = library_reply(d, "list", "LIB-A");
    ASSERT_TRUE(a.ok) << a.error << d.log_text();
    EXPECT_EQ(drives_a, a.drive_names);
    EXPECT_EQ(drives_a, sqlite_view(db, "LIB-A").drive_names);
    EXPECT_EQ(drives_b, sqlite_view(db, "LIB-B").drive_names);
    const Library_View in_a = mtx_view(d.library_file(), "/dev/sg30");
    EXPECT_EQ("1=AA00001L9 2=AA00002L9 3=AA00003L9 4=AA00004L9 | drives ", describe(in_a));
  }
  stop = true;
  for (std::thread& c : clients) c.join();
  EXPECT_EQ("", faults[0] + faults[1]);
  EXPECT_GE(loads.load(), 10);
  EXPECT_EQ(drives_b, library_reply(d, "list", "LIB-B").drive_names);
  EXPECT_EQ(0, d.stop());
}

}  // namespace
