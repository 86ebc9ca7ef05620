// libFuzzer target for the six tape-control handlers, run through the
// in-memory channel against the process's controller on a small emulated
// library (instant mechanics, fake clocks) and a SQLite inventory in a
// temporary folder.
//
// Input: a selector byte (handler, another method, a fuzzed path, or a
// fault the library's next move suffers), then a query-string line, then
// the request body.
// Properties: no crash; every reply has a status in 100..599 and a body
// that is empty or JSON; and, every CHECK_EVERY inputs, the emulator's
// truth and the inventory agree that every labelled cartridge is recorded
// in exactly one slot, the slot it sits in (or, in a drive, the slot the
// drive row names), no slot records a cartridge the library lacks, and no
// drive row names a slot while the library has that drive empty.
// Every RESET_EVERY inputs the library is put back to its seed positions
// and rescanned, so positions do not drift into one corner for good.
// A broken invariant prints the requests since the last check and aborts.
// TAPECTL_FUZZ_TRACE=1 in the environment prints every request and reply.
#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "d2t/controller/tape_controller_impl.h"
#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"
#include "d2t/tools/provider.h"
#include "database/manager.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "websvcs/controller/tapectl/changer_refresh_handler.h"
#include "websvcs/controller/tapectl/controller_info_handler.h"
#include "websvcs/controller/tapectl/drive_load_handler.h"
#include "websvcs/controller/tapectl/drive_unload_handler.h"
#include "websvcs/controller/tapectl/list_handler.h"
#include "websvcs/controller/tapectl/media_transfer_handler.h"
#include "websvcs/framework/memory_channel.h"

namespace {

const int CHECK_EVERY = 100;
const int RESET_EVERY = 1000;
const char* const LIBRARY = "FZ-LIB";

const char* const LIBRARY_TEXT = R"({
  "state_file": "library.state",
  "timing": {"move_ms": 0, "load_ms": 0, "unload_ms": 0},
  "changers": [{
    "serial_number": "FZ-LIB", "target_name": "1:0:0", "lun": 0, "sg_name": "/dev/sg10",
    "storage_slots": 6, "porter_slots": 1,
    "drives": [
      {"serial_number": "FZ-LIB-D0", "target_name": "2:0:0", "sg_name": "/dev/sg20", "dev_name": "/dev/st0"},
      {"serial_number": "FZ-LIB-D1", "target_name": "2:0:1", "sg_name": "/dev/sg21", "dev_name": "/dev/st1"}
    ],
    "cartridges": [
      {"slot": 1, "barcode": "T0001L9", "capacity": 18000000000000},
      {"slot": 2, "barcode": "T0002L9", "capacity": 18000000000000},
      {"slot": 3, "barcode": "T0003L9"},
      {"slot": 5, "barcode": "CLN001L1", "cleaning": true},
      {"slot": 6, "barcode": ""}
    ],
    "faults": []
  }]
})";

// Swallows log records: the controller's messages still get formatted
// (fuzzed text goes through them) but nothing is printed.
class Null_Log : public ACE_Log_Msg_Callback {
 public:
  void log(ACE_Log_Record&) override {}
};

[[noreturn]] void die(const std::string& what);

struct World {
  std::string dir;
  std::string library_file;
  std::shared_ptr<d2t::emulator::Library> library;
  Null_Log null_log;
  JSON_RESTful_List_Handler list;
  JSON_RESTful_Controller_Info_Handler info;
  JSON_RESTful_Changer_Refresh_Handler refresh;
  JSON_RESTful_Media_Transfer_Handler transfer;
  Drive_Load_Handler load;
  Drive_Unload_Handler unload;
  std::deque<std::string> recent;  // requests since the last check
  long runs = 0;
  bool trace = std::getenv("TAPECTL_FUZZ_TRACE") != nullptr;  // print every request

  World() {
    char templ[] = "/tmp/tapectl_fuzz.XXXXXX";
    if (::mkdtemp(templ) == nullptr) die("mkdtemp failed");
    dir = templ;
    library_file = dir + "/library.json";
    {
      std::ofstream out(library_file);
      out << LIBRARY_TEXT;
    }
    ::setenv("D2T_STATE_DIR", dir.c_str(), 1);
    ACE_LOG_MSG->msg_callback(&null_log);
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::MSG_CALLBACK);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);

    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> provider =
        d2t::emulator::make_provider(library_file, &error);
    if (!provider) die("emulated library: " + error);
    d2t::tools::set_device_provider(provider);
    d2t::tools::set_clock(std::make_shared<d2t::tools::Manual_Clock>());
    library = d2t::emulator::Library::open(library_file, &error);
    if (!library) die("emulated library: " + error);

    database::sql::Legacy_Manager::instance()->reset_for_testing();
    if (!database::sql::Legacy_Manager::instance()->configure("sqlite:" + dir +
                                                              "/media_controller.db")) {
      die("cannot configure the inventory");
    }
    Tape_Controller* c = Tape_Controller::instance();
    c->config_path(dir + "/media_controller.conf");  // absent: defaults
    c->clock(std::make_shared<Manual_Controller_Clock>());
    if (!c->open()) die("cannot open the controller");
    rescan();
  }

  ~World() {
    Tape_Controller::close_instance();
    d2t::tools::set_device_provider(nullptr);
    d2t::tools::set_clock(nullptr);
    const std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir.c_str());
  }

  void rescan() {
    std::vector<d2t::Changer_var> changers;
    if (!Tape_Controller::instance()->rescan(LIBRARY, changers)) die("rescan failed");
  }

  void reset() {
    std::string error;
    if (!library->reset(&error)) die("emulator reset: " + error);
    rescan();
  }

  // Sets the changer's fault list to one fault of kind `kind` (see the
  // caller), or none for 0.
  void arm_fault(int kind, bool hardware) {
    std::vector<d2t::emulator::Fault_Config> faults;
    if (kind != 0) {
      d2t::emulator::Fault_Config f;
      f.op = kind == 1   ? d2t::emulator::Fault_Op::MOUNT
             : kind == 2 ? d2t::emulator::Fault_Op::UNMOUNT
                         : d2t::emulator::Fault_Op::TRANSFER;
      f.times = 1;
      f.hardware = hardware;
      faults.push_back(f);
      recent.push_back("fault " + std::to_string(kind) + (hardware ? " hardware" : ""));
    }
    std::string error;
    if (!library->set_faults(LIBRARY, faults, &error)) die("cannot set faults: " + error);
  }

  // The slot the inventory's row of drive `serial` names; -1 without one.
  static int stored_slot(Tape_Controller_Impl* impl, const std::string& serial) {
    json_spirit::Object drive;
    int slot = -1;
    if (impl->get_drive(serial, drive)) json_spirit::object_get(drive, "slot_number", slot);
    return slot;
  }

  // The invariant between the emulator's truth and the inventory.
  void check() {
    std::string error;
    std::vector<d2t::emulator::Cartridge_Info> truth;
    if (!library->cartridges(truth, &error)) die("emulator state: " + error);
    Tape_Controller_Impl* impl = Tape_Controller::instance()->impl();
    json_spirit::Object changer;
    ACE_INT64 changer_id = -1;
    json_spirit::Array slots;
    if (impl == nullptr || !impl->get_changer(LIBRARY, changer) ||
        !json_spirit::object_get(changer, "id", changer_id) || !impl->get_slots(changer_id, slots))
      die("cannot read the library's slot rows from the inventory");

    std::map<std::string, std::vector<int>> recorded;  // media tag -> slot numbers
    for (const json_spirit::Value& v : slots) {
      if (v.type() != json_spirit::obj_type) die("slot row is not an object");
      const std::string* tag = json_spirit::object_get_str(v.get_obj(), "media_tag");
      int slot = 0;
      json_spirit::object_get(v.get_obj(), "slot_number", slot);
      if (tag != nullptr && !tag->empty()) recorded[*tag].push_back(slot);
    }
    std::set<std::string> loaded;  // drives the library has a cartridge in
    for (const d2t::emulator::Cartridge_Info& c : truth) {
      const bool in_drive = c.place == d2t::emulator::Place::DRIVE;
      if (in_drive) loaded.insert(c.drive_serial);
      if (c.barcode.empty()) continue;
      // A cartridge in a drive is recorded in the slot the drive row names.
      const int expected = in_drive ? stored_slot(impl, c.drive_serial) : c.slot;
      std::string at;
      for (int slot : recorded[c.barcode]) at += " " + std::to_string(slot);
      if (recorded[c.barcode] != std::vector<int>{expected}) {
        die("cartridge " + c.barcode + " is in " +
            (in_drive ? "drive " + c.drive_serial + " from slot " : "slot ") +
            std::to_string(expected) + ", the inventory records it in slots:" + at);
      }
      recorded.erase(c.barcode);
    }
    if (!recorded.empty())
      die("inventory records " + recorded.begin()->first + " which the library lacks");
    // A drive the library has empty must not claim a cartridge either.
    for (const d2t::emulator::Changer_Config& cc : library->config()->changers) {
      for (const d2t::emulator::Drive_Config& dc : cc.drives) {
        const int slot = stored_slot(impl, dc.serial_number);
        if (!loaded.count(dc.serial_number) && slot > 0) {
          die("drive " + dc.serial_number + " is empty, the inventory says it holds slot " +
              std::to_string(slot) + "'s cartridge");
        }
      }
    }
    recent.clear();
  }
};

World* g_world = nullptr;

void die(const std::string& what) {
  std::fprintf(stderr, "tapectl_handlers_fuzz: %s\n", what.c_str());
  if (g_world != nullptr) {
    std::fprintf(stderr, "requests since the last check:\n");
    for (const std::string& r : g_world->recent) std::fprintf(stderr, "  %s\n", r.c_str());
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static World world;
  g_world = &world;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  World& w = *g_world;
  const std::uint8_t selector = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string::size_type nl = rest.find('\n');
  const std::string query = rest.substr(0, nl);
  const std::string body = nl == std::string::npos ? std::string() : rest.substr(nl + 1);

  struct Route {
    JSON_RESTful_Handler* handler;
    const char* path;
    int method;
  };
  const Route routes[] = {
      {&w.list, "/d2/r/tapectl/list", METHOD_GET},
      {&w.info, "/d2/r/tapectl/info", METHOD_GET},
      {&w.refresh, "/d2/r/tapectl/changer/refresh", METHOD_GET},
      {&w.transfer, "/d2/r/tapectl/media/transfer", METHOD_POST},
      {&w.load, "/d2/r/tapectl/drive/load", METHOD_POST},
      {&w.unload, "/d2/r/tapectl/drive/unload", METHOD_POST},
  };
  const Route& route = routes[(selector & 0x0F) % 6];
  // Bit 4: another method; bit 5: the query line is the whole target.
  const int method = (selector & 0x10) ? (selector >> 6) * 3 % 10 : route.method;
  const std::string target = (selector & 0x20) ? query : std::string(route.path) + "?" + query;

  // Bits 6-7 with bit 4 clear: the library's next move of that kind fails
  // once (1 mount, 2 unmount, 3 slot to slot), as a worn robot would; bit
  // 3 makes it a hardware error.
  const int fault = (selector & 0x10) ? 0 : selector >> 6;
  if (fault != 0) w.arm_fault(fault, (selector & 0x08) != 0);

  Memory_Channel ch(method, target);
  ch.set_body(body);
  w.recent.push_back(std::to_string(method) + " " + target + " " + body.substr(0, 200));
  ch.run(*route.handler);

  if (fault != 0) w.arm_fault(0, false);
  const int status = ch.reply_status();
  if (w.trace) {
    std::fprintf(stderr, "%s -> %d %s\n", w.recent.back().c_str(), status, ch.body().c_str());
  }
  if (status < 100 || status > 599) die("reply status " + std::to_string(status));
  json_spirit::Value reply;
  if (!ch.body().empty() && !json_spirit::read(ch.body(), reply)) {
    die("reply body is not JSON: " + ch.body().substr(0, 200));
  }

  ++w.runs;
  if (w.runs % CHECK_EVERY == 0) w.check();
  if (w.runs % RESET_EVERY == 0) w.reset();
  return 0;
}
