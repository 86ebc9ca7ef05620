#include "d2t/capture/capture_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "json_spirit/json_spirit.h"

namespace d2t {
namespace capture {

const char FORMAT_NAME[] = "d2t-capture/1";

namespace {

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Object device_json(const Device_Capture& d, bool drive) {
  Object o;
  o["sg_name"] = d.sg_name;
  if (drive) o["dev_name"] = d.dev_name;
  o["target_name"] = d.target_name;
  o["lun"] = static_cast<std::int64_t>(d.lun);
  if (drive && d.element_address >= 0)
    o["element_address"] = static_cast<std::int64_t>(d.element_address);
  Array exchanges;
  for (const Exchange& x : d.exchanges) {
    Object e;
    e["cdb"] = to_hex(x.cdb);
    e["status"] = static_cast<int>(x.status);
    e["data"] = to_hex(x.data);
    e["sense"] = to_hex(x.sense);
    exchanges.push_back(e);
  }
  o["exchanges"] = exchanges;
  return o;
}

bool get_string(const Object& o, const char* key, std::string& out, std::string& err) {
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return true;
  if (it->second.type() != json_spirit::str_type) {
    err = std::string("\"") + key + "\" must be a string";
    return false;
  }
  out = it->second.get_str();
  return true;
}

bool get_int(const Object& o, const char* key, std::int64_t lo, std::int64_t hi, std::int64_t& out,
             std::string& err) {
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return true;
  if (it->second.type() != json_spirit::int_type || it->second.get_int64() < lo ||
      it->second.get_int64() > hi) {
    err = std::string("\"") + key + "\" must be an integer from " + std::to_string(lo) + " to " +
          std::to_string(hi);
    return false;
  }
  out = it->second.get_int64();
  return true;
}

bool parse_device(const Value& v, Device_Capture& d, std::string& err) {
  if (v.type() != json_spirit::obj_type) {
    err = "a device must be an object";
    return false;
  }
  const Object& o = v.get_obj();
  std::int64_t lun = 0, element = -1;
  if (!get_string(o, "sg_name", d.sg_name, err) || !get_string(o, "dev_name", d.dev_name, err) ||
      !get_string(o, "target_name", d.target_name, err) ||
      !get_int(o, "lun", 0, 0xFFFFFFFFll, lun, err) ||
      !get_int(o, "element_address", -1, 0xFFFF, element, err))
    return false;
  d.lun = static_cast<std::uint32_t>(lun);
  d.element_address = static_cast<std::int32_t>(element);
  auto ex = o.find("exchanges");
  if (ex == o.end() || ex->second.type() != json_spirit::array_type) {
    err = "a device needs an \"exchanges\" array";
    return false;
  }
  for (const Value& e : ex->second.get_array()) {
    if (e.type() != json_spirit::obj_type) {
      err = "an exchange must be an object";
      return false;
    }
    const Object& eo = e.get_obj();
    Exchange x;
    std::string cdb, data, sense;
    std::int64_t status = 0;
    if (!get_string(eo, "cdb", cdb, err) || !get_string(eo, "data", data, err) ||
        !get_string(eo, "sense", sense, err) || !get_int(eo, "status", 0, 255, status, err))
      return false;
    if (!from_hex(cdb, x.cdb) || x.cdb.empty() || x.cdb.size() > 16 || !from_hex(data, x.data) ||
        !from_hex(sense, x.sense)) {
      err = "malformed hex in an exchange of " + d.sg_name;
      return false;
    }
    x.status = static_cast<std::uint8_t>(status);
    d.exchanges.push_back(std::move(x));
  }
  return true;
}

}  // namespace

std::string recorded_serial(const Device_Capture& device) {
  std::string serial;
  for (const Exchange& x : device.exchanges) {
    if (x.cdb.size() < 3 || x.cdb[0] != 0x12 || !(x.cdb[1] & 0x01) || x.cdb[2] != 0x80 ||
        x.status != 0 || x.data.size() < 4 || x.data[1] != 0x80)
      continue;
    std::size_t n =
        std::min<std::size_t>(x.data.size() - 4, std::size_t(x.data[2]) << 8 | x.data[3]);
    std::size_t b = 4, e = 4 + n;
    while (b < e && (x.data[b] == ' ' || x.data[b] == 0)) ++b;
    while (e > b && (x.data[e - 1] == ' ' || x.data[e - 1] == 0)) --e;
    serial.assign(x.data.begin() + b, x.data.begin() + e);
  }
  return serial;
}

std::string to_hex(const Bytes& bytes) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += DIGITS[bytes[i] >> 4];
    out += DIGITS[bytes[i] & 0x0F];
  }
  return out;
}

bool from_hex(const std::string& text, Bytes& out) {
  Bytes bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!bytes.empty()) {
      if (text[i] != ' ') return false;
      ++i;
    }
    if (i + 2 > text.size()) return false;
    int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    i += 2;
  }
  out = std::move(bytes);
  return true;
}

std::string write_capture(const Capture& capture) {
  Object root;
  root["format"] = FORMAT_NAME;
  root["changer"] = device_json(capture.changer, false);
  Array drives;
  for (const Device_Capture& d : capture.drives) drives.push_back(device_json(d, true));
  root["drives"] = drives;
  return json_spirit::write_formatted(root) + "\n";
}

bool parse_capture(const std::string& text, Capture& out, std::string* error) {
  Value root;
  std::string err;
  if (!json_spirit::read(text, root, &err)) {
    if (error) *error = err;
    return false;
  }
  Capture c;
  if (root.type() != json_spirit::obj_type) {
    err = "a capture must be an object";
  } else {
    const Object& o = root.get_obj();
    auto format = o.find("format");
    auto changer = o.find("changer");
    auto drives = o.find("drives");
    if (format == o.end() || format->second.type() != json_spirit::str_type ||
        format->second.get_str() != FORMAT_NAME) {
      err = std::string("not a capture: \"format\" must be \"") + FORMAT_NAME + "\"";
    } else if (changer == o.end()) {
      err = "a capture needs a \"changer\"";
    } else if (parse_device(changer->second, c.changer, err)) {
      if (drives != o.end() && !drives->second.is_null()) {
        if (drives->second.type() != json_spirit::array_type) {
          err = "\"drives\" must be an array";
        } else {
          for (const Value& d : drives->second.get_array()) {
            c.drives.emplace_back();
            if (!parse_device(d, c.drives.back(), err)) break;
          }
        }
      }
    }
  }
  if (!err.empty()) {
    if (error) *error = err;
    return false;
  }
  out = std::move(c);
  return true;
}

bool load_capture(const std::string& path, Capture& out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  if (!parse_capture(ss.str(), out, error)) {
    if (error) *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace capture
}  // namespace d2t
