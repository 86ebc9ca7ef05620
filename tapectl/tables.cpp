// Tables of tapectl's human output.
#include "tapectl/tables.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "json_spirit/json_helpers.h"

namespace tapectl {

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

namespace {

const Value NONE;

const Value& get(const Object& o, const char* key) {
  auto it = o.find(key);
  return it == o.end() ? NONE : it->second;
}

const Array& array_of(const Object& o, const char* key) {
  static const Array empty;
  const Value& v = get(o, key);
  return v.type() == json_spirit::array_type ? v.get_array() : empty;
}

std::string text(const Object& o, const char* key) { return cell(get(o, key)); }

std::string bold(const std::string& s, bool colour) {
  return colour ? "\033[1m" + s + "\033[0m" : s;
}

// "Library S: vendor model, device, type" as a heading.
std::string heading(const Object& lib, bool colour) {
  std::string h = "Library " + text(lib, "serial_number");
  std::string detail = text(lib, "vendor") + " " + text(lib, "model");
  const std::string sg = text(lib, "sg_name");
  if (sg != "-" && !sg.empty()) detail += ", " + sg;
  const std::string type = text(lib, "type");
  if (type != "-" && !type.empty()) detail += ", " + type;
  return bold(h, colour) + " (" + detail + ")\n";
}

// Slots as a grid of "NUMBER TAG" cells, several per line; porter slots
// marked "P", slots whose cartridge is in a drive "*".
std::string slot_grid(const Array& slots, const std::map<int, std::string>& in_drive) {
  std::vector<std::string> cells;
  std::size_t width = 0;
  int full = 0, empty = 0, porter = 0, cleaning = 0;
  for (const Value& v : slots) {
    if (v.type() != json_spirit::obj_type) continue;
    const Object& s = v.get_obj();
    int n = 0;
    json_spirit::object_get(s, "slot_number", n);
    const std::string state = text(s, "state");
    const Value& tag = get(s, "media_tag");
    bool is_porter = false;
    json_spirit::object_get(s, "is_porter", is_porter);
    std::string c = std::to_string(n);
    c.insert(0, c.size() < 3 ? 3 - c.size() : 0, ' ');
    c += is_porter ? "P " : "  ";
    auto drive = in_drive.find(n);
    bool occupied = false;  // a cartridge without a label has no tag
    json_spirit::object_get(s, "occupied", occupied);
    if (drive != in_drive.end()) {
      c += "*" + drive->second;
      ++empty;
    } else if (occupied && (tag.type() != json_spirit::str_type || tag.get_str().empty())) {
      c += "(no label)";
      ++full;
    } else if (state == "empty" || tag.type() == json_spirit::null_type) {
      c += "-";
      ++empty;
    } else {
      c += tag.type() == json_spirit::str_type && !tag.get_str().empty() ? tag.get_str()
                                                                         : "(no label)";
      ++(state == "clean" ? cleaning : full);
    }
    if (is_porter) ++porter;
    width = std::max(width, c.size());
    cells.push_back(c);
  }
  std::string out;
  const std::size_t per_line = std::max<std::size_t>(1, 100 / (width + 2));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    std::string c = cells[i];
    const bool last = (i + 1) % per_line == 0 || i + 1 == cells.size();
    if (!last) c.resize(width + 2, ' ');
    out += c;
    if (last) out += "\n";
  }
  char summary[160];
  std::snprintf(summary, sizeof summary,
                "%zu slots: %d full, %d cleaning, %d empty, %d porter (P porter, * in a drive)\n",
                cells.size(), full, cleaning, empty, porter);
  return summary + out;
}

}  // namespace

std::string cell(const Value& v) {
  switch (v.type()) {
    case json_spirit::str_type:
      return v.get_str();
    case json_spirit::bool_type:
      return v.get_bool() ? "yes" : "no";
    case json_spirit::int_type:
      return std::to_string(v.get_int64());
    case json_spirit::real_type: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f", v.get_real());
      return buf;
    }
    case json_spirit::null_type:
      return "-";
    default:
      return "?";
  }
}

std::string Table::render(bool colour) const {
  std::vector<std::size_t> width(header_.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size() && i < width.size(); ++i)
      width[i] = std::max(width[i], row[i].size());
  };
  measure(header_);
  for (const auto& r : rows_) measure(r);
  auto line = [&](const std::vector<std::string>& row) {
    std::string out;
    for (std::size_t i = 0; i < width.size(); ++i) {
      std::string c = i < row.size() ? row[i] : "";
      if (i + 1 < width.size()) c.resize(width[i] + 2, ' ');
      out += c;
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out + "\n";
  };
  std::string out = line(header_);
  if (colour) out = bold(out.substr(0, out.size() - 1), true) + "\n";
  for (const auto& r : rows_) out += line(r);
  return out;
}

std::string render_inventory(const Value& reply, bool colour) {
  if (reply.type() != json_spirit::array_type || reply.get_array().empty())
    return "No library in the inventory.\n";
  std::string out;
  for (const Value& v : reply.get_array()) {
    if (v.type() != json_spirit::obj_type) continue;
    const Object& lib = v.get_obj();
    if (!out.empty()) out += "\n";
    out += heading(lib, colour);
    Table drives({"DRIVE", "SERIAL", "DEVICE", "CARTRIDGE", "HOME", "FAILURES", "FAULTY"});
    std::map<int, std::string> in_drive;
    for (const Value& d : array_of(lib, "drives")) {
      if (d.type() != json_spirit::obj_type) continue;
      const Object& o = d.get_obj();
      std::string faulty = text(o, "faulty");
      if (faulty == "yes" && colour) faulty = "\033[31mFAULTY\033[0m";
      drives.add({text(o, "drive_number"), text(o, "serial_number"), text(o, "dev_name"),
                  text(o, "media_tag"), text(o, "slot_number"), text(o, "failures"), faulty});
      int home = 0;
      if (json_spirit::object_get(o, "slot_number", home) && home > 0)
        in_drive[home] = "d" + text(o, "drive_number");
    }
    out += drives.empty() ? "No drives.\n" : drives.render(colour);
    out += slot_grid(array_of(lib, "slots"), in_drive);
  }
  return out;
}

std::string render_libraries(const Value& reply, bool colour) {
  if (reply.type() != json_spirit::obj_type) return std::string();
  const Object& o = reply.get_obj();
  Table t({"SERIAL", "VENDOR", "MODEL", "DEVICE", "TYPE"});
  for (const Value& c : array_of(o, "changers")) {
    if (c.type() != json_spirit::obj_type) continue;
    const Object& l = c.get_obj();
    t.add({text(l, "serial_number"), text(l, "vendor"), text(l, "model"), text(l, "sg_name"),
           text(l, "type")});
  }
  std::string out = "Host " + text(o, "host_uuid") + "\n";
  return out + (t.empty() ? "No tape library found.\n" : t.render(colour));
}

std::string render_operations(const Value& reply, bool colour) {
  Table t({"LIBRARY", "STATE", "ID", "KIND", "DRIVE", "SLOTS", "CARTRIDGE", "SINCE", "SECONDS"});
  if (reply.type() == json_spirit::array_type) {
    for (const Value& v : reply.get_array()) {
      if (v.type() != json_spirit::obj_type) continue;
      const Object& lib = v.get_obj();
      for (const char* state : {"running", "queued"}) {
        for (const Value& op : array_of(lib, state)) {
          if (op.type() != json_spirit::obj_type) continue;
          const Object& o = op.get_obj();
          std::string slots;
          for (const Value& s : array_of(o, "slots"))
            slots += (slots.empty() ? "" : "->") + cell(s);
          t.add({text(lib, "serial_number"), state, text(o, "id"), text(o, "kind"),
                 text(o, "drive"), slots.empty() ? "-" : slots, text(o, "media_tag"),
                 text(o, *state == 'r' ? "started_at" : "queued_at"), text(o, "seconds")});
        }
      }
    }
  }
  return t.empty() ? "No operation running or queued.\n" : t.render(colour);
}

std::string render_refresh(const Value& reply, bool colour) {
  if (reply.type() != json_spirit::obj_type) return std::string();
  const Object& lib = reply.get_obj();
  std::string out = heading(lib, colour);
  Table drives({"DRIVE", "CARTRIDGE", "HOME"});
  std::map<int, std::string> in_drive;
  for (const Value& d : array_of(lib, "drives")) {
    if (d.type() != json_spirit::obj_type) continue;
    const Object& o = d.get_obj();
    std::string tag = text(o, "media_tag");
    int home = 0;
    json_spirit::object_get(o, "slot_number", home);
    drives.add(
        {text(o, "drive_number"), tag.empty() ? "-" : tag, home > 0 ? std::to_string(home) : "-"});
    if (home > 0) in_drive[home] = "d" + text(o, "drive_number");
  }
  out += drives.empty() ? "No drives.\n" : drives.render(colour);
  return out + slot_grid(array_of(lib, "slots"), in_drive);
}

}  // namespace tapectl
