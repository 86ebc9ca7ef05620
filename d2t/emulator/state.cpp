#include "d2t/emulator/state.h"

#include <charconv>
#include <cstdio>

namespace d2t {
namespace emulator {

namespace {

const char MAGIC[] = "d2t-emulator-state";
const unsigned FORMAT_VERSION = 1;

// Text writer: words separated by one space, strings as <length>:<bytes>
// so that any byte may appear in serial numbers and barcodes.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  Writer& word(const char* w) {
    sep();
    out_ += w;
    return *this;
  }
  Writer& num(std::uint64_t v) {
    sep();
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, r.ptr);
    return *this;
  }
  Writer& snum(std::int64_t v) {
    sep();
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, r.ptr);
    return *this;
  }
  Writer& str(const std::string& s) {
    num(s.size());
    out_ += ':';
    out_ += s;
    return *this;
  }
  void end_line() {
    out_ += '\n';
    first_ = true;
  }

 private:
  void sep() {
    if (!first_) out_ += ' ';
    first_ = false;
  }
  std::string& out_;
  bool first_ = true;
};

class Reader {
 public:
  explicit Reader(const std::string& text) : p_(text.data()), end_(p_ + text.size()) {}
  bool word(const char* w) {
    skip_spaces();
    std::size_t n = std::char_traits<char>::length(w);
    if (static_cast<std::size_t>(end_ - p_) < n ||
        std::char_traits<char>::compare(p_, w, n) != 0)
      return false;
    if (p_ + n < end_ && p_[n] != ' ' && p_[n] != '\n') return false;
    p_ += n;
    return true;
  }
  bool num(std::uint64_t& v) {
    skip_spaces();
    auto r = std::from_chars(p_, end_, v);
    if (r.ec != std::errc() || r.ptr == p_) return false;
    p_ = r.ptr;
    return true;
  }
  bool snum(std::int64_t& v) {
    skip_spaces();
    auto r = std::from_chars(p_, end_, v);
    if (r.ec != std::errc() || r.ptr == p_) return false;
    p_ = r.ptr;
    return true;
  }
  bool u32(std::uint32_t& v) {
    std::uint64_t x;
    if (!num(x) || x > 0xFFFFFFFFull) return false;
    v = static_cast<std::uint32_t>(x);
    return true;
  }
  bool i32(std::int32_t& v) {
    std::int64_t x;
    if (!snum(x) || x < -1 || x > 0x7FFFFFFF) return false;
    v = static_cast<std::int32_t>(x);
    return true;
  }
  bool flag(bool& v) {
    std::uint64_t x;
    if (!num(x) || x > 1) return false;
    v = x == 1;
    return true;
  }
  bool str(std::string& s) {
    std::uint64_t n;
    if (!num(n) || p_ >= end_ || *p_ != ':') return false;
    ++p_;
    if (static_cast<std::uint64_t>(end_ - p_) < n) return false;
    s.assign(p_, n);
    p_ += n;
    return true;
  }
  // A bare word up to the next space or end of line.
  bool token(std::string& s) {
    skip_spaces();
    const char* b = p_;
    while (p_ < end_ && *p_ != ' ' && *p_ != '\n') ++p_;
    s.assign(b, p_);
    return p_ > b;
  }
  bool at_end() const { return p_ == end_; }
  bool end_line() {
    skip_spaces();
    if (p_ >= end_ || *p_ != '\n') return false;
    ++p_;
    return true;
  }

 private:
  void skip_spaces() {
    while (p_ < end_ && *p_ == ' ') ++p_;
  }
  const char* p_;
  const char* end_;
};

bool fail(std::string* error, const std::string& what) {
  if (error) *error = "state file: " + what;
  return false;
}

bool parse_fault_op_name(const std::string& name, Fault_Op& op) {
  for (Fault_Op o : {Fault_Op::MOUNT, Fault_Op::UNMOUNT, Fault_Op::TRANSFER,
                     Fault_Op::READY}) {
    if (name == fault_op_name(o)) {
      op = o;
      return true;
    }
  }
  return false;
}

}  // namespace

bool Changer_State::rebuild_occupants(std::string* error) {
  occupant.assign(elements(), -1);
  if (drive.size() != drives) drive.resize(drives);
  for (std::size_t i = 0; i < cartridges.size(); ++i) {
    std::int32_t e = cartridges[i].element;
    if (e < 0 || static_cast<std::uint32_t>(e) >= elements())
      return fail(error, "cartridge outside changer " + serial_number);
    if (occupant[e] != -1)
      return fail(error, "two cartridges in one element of " + serial_number);
    occupant[e] = static_cast<std::int32_t>(i);
  }
  return true;
}

void Changer_State::move(std::int32_t from, std::int32_t to) {
  std::int32_t k = occupant[from];
  occupant[from] = -1;
  occupant[to] = k;
  Cartridge_State& c = cartridges[k];
  c.element = to;
  if (!is_drive(from)) c.source = from;
}

Changer_State* Library_State::find(const std::string& serial) {
  for (Changer_State& c : changers)
    if (c.serial_number == serial) return &c;
  return nullptr;
}

Changer_State seed_changer(const Changer_Config& config) {
  Changer_State s;
  s.serial_number = config.serial_number;
  s.storage = config.storage_slots;
  s.porter = config.porter_slots;
  s.drives = static_cast<std::uint32_t>(config.drives.size());
  s.drive.resize(s.drives);
  s.occupant.assign(s.elements(), -1);
  for (const Cartridge_Config& k : config.cartridges) {
    Cartridge_State c;
    c.barcode = k.barcode;
    c.capacity = k.capacity;
    c.cleaning = k.cleaning;
    c.element = k.drive >= 0 ? s.drive_element(k.drive) : k.slot - 1;
    if (k.drive >= 0) s.drive[k.drive].threaded = true;
    c.source = k.drive >= 0 ? k.source_slot - 1 : c.element;
    s.occupant[c.element] = static_cast<std::int32_t>(s.cartridges.size());
    s.cartridges.push_back(std::move(c));
  }
  std::uint32_t made = 0;
  for (std::uint32_t e = 0; e < s.storage && made < config.fill.cartridges; ++e) {
    if (s.occupant[e] != -1) continue;
    Cartridge_State c;
    c.barcode = fill_barcode(config.fill, made++);
    c.capacity = config.fill.capacity;
    c.element = static_cast<std::int32_t>(e);
    c.source = c.element;
    s.occupant[e] = static_cast<std::int32_t>(s.cartridges.size());
    s.cartridges.push_back(std::move(c));
  }
  return s;
}

bool same_layout(const Changer_State& state, const Changer_Config& config) {
  return state.storage == config.storage_slots &&
         state.porter == config.porter_slots &&
         state.drives == config.drives.size();
}

std::string serialize_state(const Library_State& state) {
  std::string out;
  std::size_t total = 128;
  for (const Changer_State& c : state.changers) total += 64 + c.cartridges.size() * 48;
  out.reserve(total);
  Writer w(out);
  w.word(MAGIC).num(FORMAT_VERSION).word(state.epoch.c_str()).num(state.generation);
  w.end_line();
  w.word("faults").str(state.fault_signature).num(state.faults.size());
  w.end_line();
  for (const Fault_State& f : state.faults) {
    w.word("f").word(fault_op_name(f.fault.op)).num(f.remaining)
        .num(f.fault.hardware ? 1 : 0).str(f.fault.changer).str(f.fault.drive);
    w.end_line();
  }
  for (const Changer_State& c : state.changers) {
    w.word("changer").str(c.serial_number).num(c.storage).num(c.porter)
        .num(c.drives).num(c.cartridges.size());
    w.end_line();
    for (const Cartridge_State& k : c.cartridges) {
      w.word("c").snum(k.element).snum(k.source).num(k.cleaning ? 1 : 0)
          .num(k.capacity).str(k.barcode);
      w.end_line();
    }
    for (const Drive_State& d : c.drive) {
      w.word("d").num(d.threaded ? 1 : 0).num(d.load_seq).num(d.loaded_at_ms);
      w.end_line();
    }
  }
  w.word("end");
  w.end_line();
  return out;
}

bool parse_state_header(const std::string& prefix, std::string& epoch,
                        std::uint64_t& generation) {
  Reader r(prefix);
  std::uint64_t version;
  return r.word(MAGIC) && r.num(version) && version == FORMAT_VERSION &&
         r.token(epoch) && !epoch.empty() && r.num(generation) && r.end_line();
}

bool parse_state(const std::string& text, Library_State& out,
                 std::string* error) {
  Library_State s;
  Reader r(text);
  std::uint64_t version, count;
  if (!r.word(MAGIC) || !r.num(version) || version != FORMAT_VERSION ||
      !r.token(s.epoch) || !r.num(s.generation) || !r.end_line())
    return fail(error, "bad header");
  if (!r.word("faults") || !r.str(s.fault_signature) || !r.num(count) ||
      !r.end_line())
    return fail(error, "bad fault list");
  for (std::uint64_t i = 0; i < count; ++i) {
    Fault_State f;
    std::string op;
    if (!r.word("f") || !r.token(op) || !parse_fault_op_name(op, f.fault.op) ||
        !r.u32(f.remaining) || !r.flag(f.fault.hardware) ||
        !r.str(f.fault.changer) || !r.str(f.fault.drive) || !r.end_line())
      return fail(error, "bad fault");
    f.fault.times = f.remaining;
    s.faults.push_back(std::move(f));
  }
  while (r.word("changer")) {
    Changer_State c;
    if (!r.str(c.serial_number) || !r.u32(c.storage) || !r.u32(c.porter) ||
        !r.u32(c.drives) || !r.num(count) || !r.end_line())
      return fail(error, "bad changer");
    if (count > static_cast<std::uint64_t>(c.storage) + c.porter + c.drives)
      return fail(error, "too many cartridges in " + c.serial_number);
    c.cartridges.resize(count);
    for (Cartridge_State& k : c.cartridges) {
      if (!r.word("c") || !r.i32(k.element) || !r.i32(k.source) ||
          !r.flag(k.cleaning) || !r.num(k.capacity) || !r.str(k.barcode) ||
          !r.end_line())
        return fail(error, "bad cartridge in " + c.serial_number);
    }
    c.drive.resize(c.drives);
    for (Drive_State& d : c.drive) {
      if (!r.word("d") || !r.flag(d.threaded) || !r.num(d.load_seq) ||
          !r.num(d.loaded_at_ms) || !r.end_line())
        return fail(error, "bad drive in " + c.serial_number);
    }
    if (!c.rebuild_occupants(error)) return false;
    s.changers.push_back(std::move(c));
  }
  if (!r.word("end") || !r.end_line() || !r.at_end())
    return fail(error, "truncated or trailing data");
  out = std::move(s);
  return true;
}

}  // namespace emulator
}  // namespace d2t
