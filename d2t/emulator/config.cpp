#include "d2t/emulator/config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "d2t/emulator/replay.h"
#include "json_spirit/json_spirit.h"

namespace d2t {
namespace emulator {

namespace {

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

// Reading helpers: each returns false and sets `err` when the key holds a
// value of the wrong kind; a missing key leaves `out` unchanged.
bool get_str(const Object& o, const char* key, std::string& out, std::string& err) {
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return true;
  if (it->second.type() != json_spirit::str_type) {
    err = std::string("\"") + key + "\" must be a string";
    return false;
  }
  out = it->second.get_str();
  return true;
}

bool get_u64(const Object& o, const char* key, std::uint64_t& out, std::string& err) {
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return true;
  if (it->second.type() != json_spirit::int_type ||
      (!it->second.is_uint64() && it->second.get_int64() < 0)) {
    err = std::string("\"") + key + "\" must be a non-negative integer";
    return false;
  }
  out = it->second.get_uint64();
  return true;
}

bool get_u32(const Object& o, const char* key, std::uint32_t& out, std::string& err) {
  std::uint64_t v = out;
  if (!get_u64(o, key, v, err)) return false;
  if (v > 0xFFFFFFFFull) {
    err = std::string("\"") + key + "\" is too large";
    return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool get_bool(const Object& o, const char* key, bool& out, std::string& err) {
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return true;
  if (it->second.type() != json_spirit::bool_type) {
    err = std::string("\"") + key + "\" must be true or false";
    return false;
  }
  out = it->second.get_bool();
  return true;
}

const Array* get_array(const Object& o, const char* key, std::string& err) {
  static const Array EMPTY;
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return &EMPTY;
  if (it->second.type() != json_spirit::array_type) {
    err = std::string("\"") + key + "\" must be an array";
    return nullptr;
  }
  return &it->second.get_array();
}

const Object* as_object(const Value& v, const char* what, std::string& err) {
  if (v.type() != json_spirit::obj_type) {
    err = std::string(what) + " must be an object";
    return nullptr;
  }
  return &v.get_obj();
}

bool parse_fault_op(const std::string& name, Fault_Op& op) {
  if (name == "mount")
    op = Fault_Op::MOUNT;
  else if (name == "unmount")
    op = Fault_Op::UNMOUNT;
  else if (name == "transfer")
    op = Fault_Op::TRANSFER;
  else if (name == "ready")
    op = Fault_Op::READY;
  else
    return false;
  return true;
}

bool parse_drive(const Object& o, Drive_Config& d, std::string& err) {
  if (!get_str(o, "serial_number", d.serial_number, err) || !get_str(o, "vendor", d.vendor, err) ||
      !get_str(o, "model", d.model, err) || !get_str(o, "revision", d.revision, err) ||
      !get_str(o, "target_name", d.target_name, err) || !get_u32(o, "lun", d.lun, err) ||
      !get_str(o, "sg_name", d.sg_name, err) || !get_str(o, "dev_name", d.dev_name, err) ||
      !get_bool(o, "automation_vpd", d.automation_vpd, err) ||
      !get_bool(o, "attached", d.attached, err))
    return false;
  auto id = o.find("element_identifier");
  if (id != o.end() && !id->second.is_null()) {
    if (!get_str(o, "element_identifier", d.element_identifier, err)) return false;
    d.has_element_identifier = true;
  }
  if (d.serial_number.empty() || (d.attached && d.sg_name.empty())) {
    err = "a drive needs \"serial_number\" and, when attached, \"sg_name\"";
    return false;
  }
  return true;
}

bool parse_cartridge(const Object& o, Cartridge_Config& c, std::string& err) {
  std::uint64_t slot = 0, drive = 0;
  bool has_drive = o.count("drive") && !o.at("drive").is_null();
  if (!get_u64(o, "slot", slot, err) || !get_u64(o, "drive", drive, err) ||
      !get_str(o, "barcode", c.barcode, err) || !get_u64(o, "capacity", c.capacity, err) ||
      !get_bool(o, "cleaning", c.cleaning, err))
    return false;
  if (has_drive == (slot != 0)) {
    err = "a cartridge needs exactly one of \"slot\" (1-based) and \"drive\"";
    return false;
  }
  if (slot > 0x7FFFFFFF || drive > 0x7FFFFFFF) {
    err = "cartridge position out of range";
    return false;
  }
  c.slot = static_cast<std::int32_t>(slot);
  c.drive = has_drive ? static_cast<std::int32_t>(drive) : -1;
  return true;
}

bool parse_fault(const Object& o, Fault_Config& f, std::string& err) {
  std::string op;
  if (!get_str(o, "op", op, err) || !get_str(o, "drive", f.drive, err) ||
      !get_str(o, "changer", f.changer, err) || !get_u32(o, "times", f.times, err) ||
      !get_bool(o, "hardware", f.hardware, err))
    return false;
  if (!parse_fault_op(op, f.op)) {
    err = "unknown fault op \"" + op + "\"";
    return false;
  }
  return true;
}

// Checks that cartridges fit the changer and do not share places or
// barcodes.
bool check_cartridges(const Changer_Config& c, std::string& err) {
  std::set<std::int32_t> slots, drives;
  std::set<std::string> barcodes;
  const std::uint32_t slot_count = c.storage_slots + c.porter_slots;
  for (const Cartridge_Config& k : c.cartridges) {
    if (k.drive >= 0) {
      if (static_cast<std::uint32_t>(k.drive) >= c.drives.size() ||
          !drives.insert(k.drive).second) {
        err = "cartridge in drive " + std::to_string(k.drive) +
              " is outside the library or shares the drive";
        return false;
      }
    } else if (k.slot < 1 || static_cast<std::uint32_t>(k.slot) > slot_count ||
               !slots.insert(k.slot).second) {
      err = "cartridge in slot " + std::to_string(k.slot) +
            " is outside the library or shares the slot";
      return false;
    }
    if (!k.barcode.empty() && !barcodes.insert(k.barcode).second) {
      err = "barcode \"" + k.barcode + "\" appears twice";
      return false;
    }
  }
  std::uint32_t free_storage = c.storage_slots;
  for (std::int32_t s : slots)
    if (static_cast<std::uint32_t>(s) <= c.storage_slots) --free_storage;
  if (c.fill.cartridges > free_storage) {
    err = "\"fill\" asks for more cartridges than empty storage slots";
    return false;
  }
  for (std::uint32_t n = 0; n < c.fill.cartridges && !barcodes.empty(); ++n) {
    std::string b = fill_barcode(c.fill, n);
    if (barcodes.count(b)) {
      err = "barcode \"" + b + "\" is both listed and generated by \"fill\"";
      return false;
    }
  }
  return true;
}

bool parse_dvcid(const std::string& name, Dvcid& out) {
  if (name == "none")
    out = Dvcid::NONE;
  else if (name == "t10")
    out = Dvcid::T10;
  else if (name == "serial")
    out = Dvcid::SERIAL;
  else if (name == "reject")
    out = Dvcid::REJECT;
  else
    return false;
  return true;
}

bool parse_timing(const Object& o, Timing& t, bool& present, std::string& err) {
  auto it = o.find("timing");
  if (it == o.end() || it->second.is_null()) return true;
  const Object* to = as_object(it->second, "\"timing\"", err);
  present = true;
  return to && get_u64(*to, "move_ms", t.move_ms, err) && get_u64(*to, "load_ms", t.load_ms, err) &&
         get_u64(*to, "unload_ms", t.unload_ms, err) && get_u64(*to, "status_ms", t.status_ms, err);
}

bool parse_changer(const Object& o, Changer_Config& c, std::string& err) {
  if (!parse_timing(o, c.timing, c.has_timing, err)) return false;
  std::string dvcid = "none";
  if (!get_str(o, "dvcid", dvcid, err)) return false;
  if (!parse_dvcid(dvcid, c.dvcid)) {
    err = "unknown \"dvcid\" \"" + dvcid + "\"";
    return false;
  }
  if (!get_str(o, "serial_number", c.serial_number, err) || !get_str(o, "vendor", c.vendor, err) ||
      !get_str(o, "model", c.model, err) || !get_str(o, "revision", c.revision, err) ||
      !get_str(o, "target_name", c.target_name, err) || !get_u32(o, "lun", c.lun, err) ||
      !get_str(o, "sg_name", c.sg_name, err) ||
      !get_u32(o, "storage_slots", c.storage_slots, err) ||
      !get_u32(o, "porter_slots", c.porter_slots, err) ||
      !get_u32(o, "automation_address_shift", c.automation_address_shift, err))
    return false;
  if (c.serial_number.empty() || c.sg_name.empty()) {
    err = "a changer needs \"serial_number\" and \"sg_name\"";
    return false;
  }
  if (c.storage_slots > MAX_STORAGE_SLOTS || c.porter_slots > MAX_PORTER_SLOTS) {
    err = "changer " + c.serial_number + " has too many slots";
    return false;
  }
  const Array* drives = get_array(o, "drives", err);
  const Array* carts = drives ? get_array(o, "cartridges", err) : nullptr;
  const Array* faults = carts ? get_array(o, "faults", err) : nullptr;
  if (!faults) return false;
  if (drives->size() > MAX_DRIVES) {
    err = "changer " + c.serial_number + " has too many drives";
    return false;
  }
  for (const Value& v : *drives) {
    const Object* d = as_object(v, "a drive", err);
    c.drives.emplace_back();
    if (!d || !parse_drive(*d, c.drives.back(), err)) return false;
  }
  for (const Value& v : *carts) {
    const Object* k = as_object(v, "a cartridge", err);
    c.cartridges.emplace_back();
    if (!k || !parse_cartridge(*k, c.cartridges.back(), err)) return false;
  }
  for (const Value& v : *faults) {
    const Object* f = as_object(v, "a fault", err);
    c.faults.emplace_back();
    if (!f || !parse_fault(*f, c.faults.back(), err)) return false;
  }
  auto fill = o.find("fill");
  if (fill != o.end() && !fill->second.is_null()) {
    const Object* f = as_object(fill->second, "\"fill\"", err);
    if (!f || !get_u32(*f, "cartridges", c.fill.cartridges, err) ||
        !get_str(*f, "barcode_prefix", c.fill.barcode_prefix, err) ||
        !get_str(*f, "barcode_suffix", c.fill.barcode_suffix, err) ||
        !get_u64(*f, "capacity", c.fill.capacity, err))
      return false;
  }
  return check_cartridges(c, err);
}

std::string folder_of(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// `path` as given in the library file: absolute, or relative to its folder.
std::string beside(const std::string& library_file, const std::string& path) {
  return path[0] == '/' ? path : folder_of(library_file) + "/" + path;
}

// Device names and serial numbers must each name one device.
bool check_unique(const Library_Config& lib, std::string& err) {
  std::set<std::string> names, serials;
  auto add = [&](std::set<std::string>& set, const std::string& s) {
    if (s.empty() || set.insert(s).second) return true;
    err = "\"" + s + "\" names two devices";
    return false;
  };
  for (const Changer_Config& c : lib.changers) {
    if (!add(names, c.sg_name) || !add(serials, c.serial_number)) return false;
    for (const Drive_Config& d : c.drives) {
      if (!add(names, d.sg_name) || !add(names, d.dev_name) || !add(names, d.no_rewind_name()) ||
          !add(serials, d.serial_number))
        return false;
    }
  }
  return true;
}

}  // namespace

std::string Drive_Config::no_rewind_name() const {
  std::string::size_type p = dev_name.rfind("/st");
  if (p == std::string::npos) return std::string();
  return dev_name.substr(0, p) + "/nst" + dev_name.substr(p + 3);
}

std::string fill_barcode(const Fill_Config& fill, std::uint32_t n) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%05u", n);
  return fill.barcode_prefix + digits + fill.barcode_suffix;
}

const char* fault_op_name(Fault_Op op) {
  switch (op) {
    case Fault_Op::MOUNT:
      return "mount";
    case Fault_Op::UNMOUNT:
      return "unmount";
    case Fault_Op::TRANSFER:
      return "transfer";
    case Fault_Op::READY:
      return "ready";
  }
  return "?";
}

bool parse_library(const std::string& text, const std::string& library_file, Library_Config& out,
                   std::string* error) {
  std::string err;
  Value root;
  if (!json_spirit::read(text, root, &err)) {
    if (error) *error = library_file + ": " + err;
    return false;
  }
  Library_Config lib;
  lib.library_file = library_file;
  const Object* o = as_object(root, "the library file", err);
  std::string state_file, operation_log;
  const Array* changers = nullptr;
  bool has_timing = false;
  if (o && get_str(*o, "state_file", state_file, err) &&
      get_str(*o, "operation_log", operation_log, err) &&
      (changers = get_array(*o, "changers", err))) {
    if (!parse_timing(*o, lib.timing, has_timing, err)) changers = nullptr;
  }
  if (changers) {
    for (const Value& v : *changers) {
      const Object* c = as_object(v, "a changer", err);
      lib.changers.emplace_back();
      if (!c || !apply_capture(*c, folder_of(library_file), lib.changers.back(), err) ||
          !parse_changer(*c, lib.changers.back(), err)) {
        changers = nullptr;
        break;
      }
    }
  }
  if (!changers || !check_unique(lib, err)) {
    if (error) *error = library_file + ": " + err;
    return false;
  }
  if (state_file.empty())
    lib.state_file = library_file + ".state";
  else
    lib.state_file = beside(library_file, state_file);
  if (!operation_log.empty()) lib.operation_log = beside(library_file, operation_log);
  out = std::move(lib);
  return true;
}

bool load_library(const std::string& library_file, Library_Config& out, std::string* error) {
  int fd = ::open(library_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = library_file + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, n);
  int read_errno = errno;
  ::close(fd);
  if (n < 0) {
    if (error) *error = library_file + ": " + std::strerror(read_errno);
    return false;
  }
  return parse_library(text, library_file, out, error);
}

}  // namespace emulator
}  // namespace d2t
