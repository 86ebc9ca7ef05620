// The mechanical operations of an emulated library: moves, loads and
// drive readiness, with injected faults and simulated time.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/library_impl.h"
#include "d2t/emulator/operation_log.h"
#include "json_spirit/json_spirit.h"

namespace d2t {
namespace emulator {

namespace {

// Counts down the first armed fault matching the operation; GOOD when none.
Sense_Code consume_fault(Library_State& s, Fault_Op op, const std::string& changer,
                         const std::string& drive, bool& changed) {
  for (Fault_State& f : s.faults) {
    if (f.remaining == 0 || f.fault.op != op) continue;
    if (!f.fault.changer.empty() && f.fault.changer != changer) continue;
    if (op != Fault_Op::TRANSFER && !f.fault.drive.empty() && f.fault.drive != drive) continue;
    --f.remaining;
    changed = true;
    return f.fault.hardware ? sense::HARDWARE_FAILURE : sense::ABORTED;
  }
  return sense::OK;
}

struct Move_Plan {
  std::int32_t from = -1;
  std::int32_t to = -1;
  std::int32_t cartridge = -1;
  std::string barcode;
  std::uint64_t delay_ms = 0;
};

// Validates a move and counts down its fault; fills `plan`.
Sense_Code check_move(const Changer_Config& cc, Changer_State& cs, Library_State& state,
                      const Timing& timing, std::uint16_t source, std::uint16_t destination,
                      Move_Plan& plan, bool& changed) {
  plan.from = element_of_address(cs, source);
  plan.to = element_of_address(cs, destination);
  if (plan.from < 0 || plan.to < 0) return sense::INVALID_ELEMENT;
  Sense_Code fault;
  if (cs.is_drive(plan.to)) {
    const std::string& serial = cc.drives[plan.to - cs.drive_element(0)].serial_number;
    fault = consume_fault(state, Fault_Op::MOUNT, cc.serial_number, serial, changed);
  } else if (cs.is_drive(plan.from)) {
    const std::string& serial = cc.drives[plan.from - cs.drive_element(0)].serial_number;
    fault = consume_fault(state, Fault_Op::UNMOUNT, cc.serial_number, serial, changed);
  } else {
    fault = consume_fault(state, Fault_Op::TRANSFER, cc.serial_number, "", changed);
  }
  if (!fault.good()) return fault;
  plan.cartridge = cs.occupant[plan.from];
  if (plan.cartridge < 0) return sense::SOURCE_EMPTY;
  plan.barcode = cs.cartridges[plan.cartridge].barcode;
  if (plan.from == plan.to) return sense::OK;
  if (cs.occupant[plan.to] >= 0) return sense::DESTINATION_FULL;
  plan.delay_ms = timing.move_ms;
  if (cs.is_drive(plan.from) && cs.drive[plan.from - cs.drive_element(0)].threaded)
    plan.delay_ms += timing.unload_ms;  // the library ejects the tape first
  return sense::OK;
}

void commit_move(Changer_State& cs, const Move_Plan& plan, std::uint64_t now) {
  if (plan.from == plan.to) return;
  if (cs.is_drive(plan.from)) cs.drive[plan.from - cs.drive_element(0)].threaded = false;
  cs.move(plan.from, plan.to);
  if (cs.is_drive(plan.to)) {
    Drive_State& d = cs.drive[plan.to - cs.drive_element(0)];
    d.threaded = true;  // the drive loads what it is given
    ++d.load_seq;
    d.loaded_at_ms = now;
  }
}

bool ready_elapsed(const Drive_State& d, std::uint64_t now, std::uint64_t load_ms) {
  return now < d.loaded_at_ms || now - d.loaded_at_ms >= load_ms;
}

}  // namespace

Sense_Code Library::move_medium(const std::string& changer_serial, std::uint16_t source,
                                std::uint16_t destination) {
  Operation_Record record;
  record.op = "move";
  record.changer = changer_serial;
  record.start_ms = impl_->clock_->now_ms();
  record.source = source;
  record.destination = destination;
  std::string log;
  const auto logged = [&](Sense_Code code) {
    record.end_ms = impl_->clock_->now_ms();
    record.good = code.good();
    append_operation(log, record);
    return code;
  };
  Sense_Code result = sense::OK;
  Move_Plan plan;
  bool ok = impl_->transact(
      [&](const Library_Config& lib, Library_State& state) {
        log = lib.operation_log;
        const Changer_Config* cc = find_config(lib, changer_serial);
        Changer_State* cs = state.find(changer_serial);
        if (!cc || !cs) {
          result = sense::HARDWARE_FAILURE;
          return false;
        }
        bool changed = false;
        result =
            check_move(*cc, *cs, state, timing_of(lib, *cc), source, destination, plan, changed);
        for (std::int32_t e : {plan.from, plan.to}) {
          if (e >= 0 && cs->is_drive(e))
            record.drive = cc->drives[e - cs->drive_element(0)].serial_number;
        }
        if (result.good() && plan.delay_ms == 0 && plan.from != plan.to) {
          commit_move(*cs, plan, impl_->clock_->now_ms());
          changed = true;
        }
        return changed;
      },
      nullptr);
  if (!ok) return logged(sense::HARDWARE_FAILURE);
  if (!result.good() || plan.delay_ms == 0) return logged(result);

  impl_->clock_->sleep_ms(plan.delay_ms);
  ok = impl_->transact(
      [&](const Library_Config&, Library_State& state) {
        Changer_State* cs = state.find(changer_serial);
        if (!cs || static_cast<std::uint32_t>(plan.from) >= cs->elements() ||
            static_cast<std::uint32_t>(plan.to) >= cs->elements()) {
          result = sense::HARDWARE_FAILURE;
          return false;
        }
        // Another process may have moved things while the robot travelled.
        std::int32_t k = cs->occupant[plan.from];
        if (k != plan.cartridge || cs->cartridges[k].barcode != plan.barcode) {
          result = sense::SOURCE_EMPTY;
          return false;
        }
        if (cs->occupant[plan.to] >= 0) {
          result = sense::DESTINATION_FULL;
          return false;
        }
        commit_move(*cs, plan, impl_->clock_->now_ms());
        return true;
      },
      nullptr);
  return logged(ok ? result : sense::HARDWARE_FAILURE);
}

Sense_Code Library::load_unload(const std::string& changer_serial, std::uint32_t drive, bool load,
                                bool immediate) {
  Operation_Record record;
  record.op = load ? "load" : "unload";
  record.changer = changer_serial;
  record.start_ms = impl_->clock_->now_ms();
  std::string log;
  const auto logged = [&](Sense_Code code) {
    record.end_ms = impl_->clock_->now_ms();
    record.good = code.good();
    append_operation(log, record);
    return code;
  };
  Sense_Code result = sense::OK;
  std::uint64_t delay = 0;
  std::string barcode;
  bool ok = impl_->transact(
      [&](const Library_Config& lib, Library_State& state) {
        log = lib.operation_log;
        const Changer_Config* cc = find_config(lib, changer_serial);
        Changer_State* cs = state.find(changer_serial);
        if (!cc || !cs || drive >= cs->drives) {
          result = sense::HARDWARE_FAILURE;
          return false;
        }
        record.drive = cc->drives[drive].serial_number;
        bool changed = false;
        if (!load) {
          result = consume_fault(state, Fault_Op::UNMOUNT, cc->serial_number,
                                 cc->drives[drive].serial_number, changed);
          if (!result.good()) return changed;
        }
        std::int32_t k = cs->occupant[cs->drive_element(drive)];
        if (k < 0) {
          result = sense::MEDIUM_NOT_PRESENT;
          return changed;
        }
        Drive_State& d = cs->drive[drive];
        if (load) {
          if (d.threaded) return changed;
          d.threaded = true;
          ++d.load_seq;
          d.loaded_at_ms = impl_->clock_->now_ms();
          if (!immediate) delay = timing_of(lib, *cc).load_ms;
          return true;
        }
        if (!d.threaded) return changed;
        if (timing_of(lib, *cc).unload_ms == 0) {
          d.threaded = false;
          return true;
        }
        delay = timing_of(lib, *cc).unload_ms;
        barcode = cs->cartridges[k].barcode;
        return changed;
      },
      nullptr);
  if (!ok) return logged(sense::HARDWARE_FAILURE);
  if (!result.good() || delay == 0) return logged(result);
  impl_->clock_->sleep_ms(delay);
  if (load) return logged(result);  // the drive became ready while we waited
  ok = impl_->transact(
      [&](const Library_Config&, Library_State& state) {
        Changer_State* cs = state.find(changer_serial);
        if (!cs || drive >= cs->drives) return false;
        std::int32_t k = cs->occupant[cs->drive_element(drive)];
        if (k < 0 || cs->cartridges[k].barcode != barcode) return false;
        cs->drive[drive].threaded = false;
        return true;
      },
      nullptr);
  return logged(ok ? result : sense::HARDWARE_FAILURE);
}

Sense_Code Library::test_unit_ready(const std::string& changer_serial, std::uint32_t drive) {
  Sense_Code result = sense::OK;
  bool ok = impl_->transact(
      [&](const Library_Config& lib, Library_State& state) {
        const Changer_Config* cc = find_config(lib, changer_serial);
        Changer_State* cs = state.find(changer_serial);
        if (!cc || !cs || drive >= cs->drives) {
          result = sense::HARDWARE_FAILURE;
          return false;
        }
        bool changed = false;
        result = consume_fault(state, Fault_Op::READY, cc->serial_number,
                               cc->drives[drive].serial_number, changed);
        if (!result.good()) return changed;
        std::int32_t k = cs->occupant[cs->drive_element(drive)];
        const Drive_State& d = cs->drive[drive];
        if (k < 0) {
          result = sense::MEDIUM_NOT_PRESENT;
        } else if (!d.threaded) {
          result = sense::INITIALIZING_COMMAND_REQUIRED;
        } else if (!ready_elapsed(d, impl_->clock_->now_ms(), timing_of(lib, *cc).load_ms)) {
          result = sense::BECOMING_READY;
        } else {
          std::vector<std::uint64_t>& seen = impl_->seen_loads_[changer_serial];
          if (seen.size() != cs->drives) seen.assign(cs->drives, 0);
          if (seen[drive] != d.load_seq) {
            seen[drive] = d.load_seq;
            result = sense::MEDIUM_CHANGED;
          } else if (cs->cartridges[k].cleaning) {
            result = sense::CLEANING_CARTRIDGE;
          }
        }
        return changed;
      },
      nullptr);
  return ok ? result : sense::HARDWARE_FAILURE;
}

Sense_Code Library::loaded_cartridge(const std::string& changer_serial, std::uint32_t drive,
                                     Cartridge_State& out) {
  Sense_Code result = sense::OK;
  bool ok = impl_->transact(
      [&](const Library_Config& lib, Library_State& state) {
        Changer_State* cs = state.find(changer_serial);
        if (!cs || drive >= cs->drives) {
          result = sense::HARDWARE_FAILURE;
          return false;
        }
        const Changer_Config* cc = find_config(lib, changer_serial);
        const std::uint64_t load_ms = cc ? timing_of(lib, *cc).load_ms : lib.timing.load_ms;
        std::int32_t k = cs->occupant[cs->drive_element(drive)];
        const Drive_State& d = cs->drive[drive];
        if (k < 0)
          result = sense::MEDIUM_NOT_PRESENT;
        else if (!d.threaded)
          result = sense::INITIALIZING_COMMAND_REQUIRED;
        else if (!ready_elapsed(d, impl_->clock_->now_ms(), load_ms))
          result = sense::BECOMING_READY;
        else
          out = cs->cartridges[k];
        return false;
      },
      nullptr);
  return ok ? result : sense::HARDWARE_FAILURE;
}

bool Library::set_faults(const std::string& changer_serial, const std::vector<Fault_Config>& faults,
                         std::string* error) {
  std::lock_guard<std::mutex> guard(impl_->mutex_);
  Fd fd(::open(impl_->file_.c_str(), O_RDONLY | O_CLOEXEC));
  std::string text;
  if (!fd.valid() || !read_all(fd.get(), text)) {
    if (error) *error = impl_->file_ + ": " + std::strerror(errno);
    return false;
  }
  json_spirit::Value root;
  if (!json_spirit::read(text, root, error)) return false;
  if (root.type() != json_spirit::obj_type) {
    if (error) *error = impl_->file_ + ": not a library file";
    return false;
  }
  json_spirit::Object& top = root.get_obj();
  auto changers = top.find("changers");
  if (changers != top.end() && changers->second.type() == json_spirit::array_type) {
    for (json_spirit::Value& v : changers->second.get_array()) {
      if (v.type() != json_spirit::obj_type) continue;
      json_spirit::Object& c = v.get_obj();
      auto serial = c.find("serial_number");
      if (serial == c.end() || serial->second.type() != json_spirit::str_type ||
          serial->second.get_str() != changer_serial)
        continue;
      json_spirit::Array list;
      for (const Fault_Config& f : faults) {
        json_spirit::Object o;
        o["op"] = fault_op_name(f.op);
        if (!f.drive.empty()) o["drive"] = f.drive;
        o["times"] = static_cast<std::int64_t>(f.times);
        o["hardware"] = f.hardware;
        list.push_back(o);
      }
      c["faults"] = list;
      // A new revision makes the file differ even when the list is equal,
      // so the same faults can be armed again.
      std::int64_t revision = 0;
      auto r = c.find("fault_revision");
      if (r != c.end() && r->second.type() == json_spirit::int_type)
        revision = r->second.get_int64();
      c["fault_revision"] = revision + 1;
      return replace_file(impl_->file_, json_spirit::write_formatted(root), error);
    }
  }
  if (error) *error = "no changer " + changer_serial + " in " + impl_->file_;
  return false;
}

}  // namespace emulator
}  // namespace d2t
