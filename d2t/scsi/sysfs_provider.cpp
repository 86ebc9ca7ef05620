#include "d2t/scsi/sysfs_provider.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "d2t/scsi/sg_transport.h"

namespace fs = std::filesystem;

namespace d2t {
namespace scsi {

namespace {

// "<prefix><digits>" exactly; returns the number or -1.
long numbered(const std::string& name, const char* prefix) {
  std::size_t n = std::char_traits<char>::length(prefix);
  if (name.size() <= n || name.compare(0, n, prefix) != 0) return -1;
  long v = 0;
  for (std::size_t i = n; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    v = v * 10 + (name[i] - '0');
    if (v > 1000000) return -1;
  }
  return v;
}

bool parse_hctl(const std::string& name, unsigned hctl[4]) {
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t start = pos;
    unsigned long v = 0;
    while (pos < name.size() && std::isdigit(static_cast<unsigned char>(name[pos]))) {
      v = v * 10 + static_cast<unsigned long>(name[pos] - '0');
      if (v > 0xFFFFFFFFUL) return false;
      ++pos;
    }
    if (pos == start) return false;
    hctl[i] = static_cast<unsigned>(v);
    if (i < 3) {
      if (pos >= name.size() || name[pos] != ':') return false;
      ++pos;
    }
  }
  return pos == name.size();
}

// The first entry of `dir` named "<prefix>N", or, in the older layout, an
// entry "<folder>:<prefix>N" of the device folder itself.
std::string find_numbered(const fs::path& device, const char* folder, const char* prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(device / folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string n = it->path().filename().string();
    if (numbered(n, prefix) >= 0) return n;
  }
  std::string old_prefix = std::string(folder) + ":";
  ec.clear();
  for (fs::directory_iterator it(device, ec), end; !ec && it != end; it.increment(ec)) {
    std::string n = it->path().filename().string();
    if (n.compare(0, old_prefix.size(), old_prefix) == 0 &&
        numbered(n.substr(old_prefix.size()), prefix) >= 0)
      return n.substr(old_prefix.size());
  }
  return std::string();
}

int read_type(const fs::path& device) {
  std::ifstream in(device / "type");
  int type = -1;
  if (!(in >> type)) return -1;
  return type;
}

std::string base_name(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The unit name "stN" of any node of the tape driver: "stN", "nstN" and
// their mode variants ending in 'a', 'l' or 'm'. Empty for other names.
std::string tape_unit(std::string name) {
  if (!name.empty() && name[0] == 'n') name.erase(0, 1);
  if (name.size() > 2 && (name.back() == 'a' || name.back() == 'l' || name.back() == 'm'))
    name.pop_back();
  return numbered(name, "st") >= 0 ? name : std::string();
}

}  // namespace

bool list_sysfs_devices(const std::string& sysfs_root, const std::string& dev_root,
                        std::vector<Device_Entry>& out, std::string* error) {
  fs::path devices = fs::path(sysfs_root) / "bus" / "scsi" / "devices";
  std::error_code ec;
  fs::directory_iterator it(devices, ec);
  if (ec) {
    if (error) *error = "cannot read " + devices.string() + ": " + ec.message();
    return false;
  }
  std::vector<std::pair<long, Device_Entry>> found;
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    unsigned hctl[4];
    if (!parse_hctl(name, hctl)) continue;
    int type = read_type(it->path());
    if (type != 1 && type != 8) continue;
    std::string sg = find_numbered(it->path(), "scsi_generic", "sg");
    if (sg.empty()) continue;
    Device_Entry e;
    e.kind = type == 8 ? Device_Kind::CHANGER : Device_Kind::TAPE;
    e.sg_name = dev_root + "/" + sg;
    if (e.kind == Device_Kind::TAPE) {
      std::string st = find_numbered(it->path(), "scsi_tape", "st");
      if (!st.empty()) e.dev_name = dev_root + "/" + st;
    }
    char target[40];
    std::snprintf(target, sizeof target, "%u:%u:%u", hctl[0], hctl[1], hctl[2]);
    e.target_name = target;
    e.lun = hctl[3];
    found.emplace_back(numbered(sg, "sg"), std::move(e));
  }
  if (ec) {
    if (error) *error = "cannot read " + devices.string() + ": " + ec.message();
    return false;
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& f : found) out.push_back(std::move(f.second));
  return true;
}

std::string non_rewinding_name(const std::string& tape_name) {
  std::size_t slash = tape_name.rfind('/');
  std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string name = tape_name.substr(base);
  if ((!name.empty() && name[0] == 'n') || tape_unit(name).empty()) return tape_name;
  std::string out = tape_name;
  out.insert(base, 1, 'n');
  return out;
}

Sysfs_Device_Provider::Sysfs_Device_Provider(std::string sysfs_root, std::string dev_root)
    : sysfs_root_(std::move(sysfs_root)), dev_root_(std::move(dev_root)) {}

bool Sysfs_Device_Provider::list(std::vector<Device_Entry>& out, std::string* error) {
  return list_sysfs_devices(sysfs_root_, dev_root_, out, error);
}

std::unique_ptr<Transport> Sysfs_Device_Provider::open(const std::string& name,
                                                       std::string* error) {
  std::string target = name;
  std::string unit = tape_unit(base_name(name));
  if (!unit.empty()) {
    // Never open a rewinding node: closing it would rewind the tape.
    target = non_rewinding_name(name);
    std::vector<Device_Entry> entries;
    if (list(entries, nullptr)) {
      for (const Device_Entry& e : entries) {
        if (!e.dev_name.empty() && base_name(e.dev_name) == unit) {
          target = e.sg_name;
          break;
        }
      }
    }
  }
  return open_sg_transport(target, error);
}

}  // namespace scsi
}  // namespace d2t
