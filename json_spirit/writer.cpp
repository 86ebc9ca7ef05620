// JSON text writer.
#include "json_spirit/writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "json_spirit/json_spirit.h"

namespace json_spirit {

std::size_t utf8_sequence_length(const std::string& s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return 0;
  }
  return n;
}

bool valid_utf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = utf8_sequence_length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

namespace {

void put_string(std::string& out, const std::string& s) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          const std::size_t n = utf8_sequence_length(s, i);
          if (n == 0) {
            out += "\\ufffd";
            ++i;
          } else {
            out.append(s, i, n);
            i += n;
          }
          continue;
        }
    }
    ++i;
  }
  out += '"';
}

void put_real(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  std::string text(buf, r.ptr);
  // Keep the text a real number when it is read back.
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  out += text;
}

class Writer {
 public:
  Writer(const Write_Options& options) : options_(options) {}

  std::string run(const Value& root) {
    if (!open_or_put(root)) return std::move(out_);
    while (!stack_.empty()) {
      Frame& f = stack_.back();
      const Value* child = nullptr;
      if (f.v->type() == array_type) {
        const Array& a = f.v->get_array();
        if (f.index == a.size()) {
          close(f.index != 0, ']');
          continue;
        }
        separate(f.index++ != 0);
        child = &a[f.index - 1];
      } else {
        const Object& o = f.v->get_obj();
        if (f.it == o.end()) {
          close(f.index != 0, '}');
          continue;
        }
        separate(f.index++ != 0);
        put_string(out_, f.it->first);
        out_ += options_.formatted ? ": " : ":";
        child = &f.it->second;
        ++f.it;
      }
      open_or_put(*child);  // may push a frame: `f` is not used after this
    }
    return std::move(out_);
  }

 private:
  struct Frame {
    const Value* v;
    std::size_t index;
    Object::const_iterator it;
  };

  void newline(std::size_t depth) {
    if (!options_.formatted) return;
    out_ += '\n';
    out_.append(depth * 2, ' ');
  }

  void separate(bool comma) {
    if (comma) out_ += ',';
    newline(stack_.size());
  }

  void close(bool had_members, char bracket) {
    stack_.pop_back();
    if (had_members) newline(stack_.size());
    out_ += bracket;
  }

  // Writes a scalar, or the opening bracket of a container and pushes its
  // frame. True when a frame was pushed.
  bool open_or_put(const Value& v) {
    switch (v.type()) {
      case obj_type:
        out_ += '{';
        stack_.push_back(Frame{&v, 0, v.get_obj().begin()});
        return true;
      case array_type:
        out_ += '[';
        stack_.push_back(Frame{&v, 0, Object::const_iterator()});
        return true;
      case str_type:
        put_string(out_, v.get_str());
        return false;
      case secure_str_type:
        put_string(out_, options_.mask_secure ? std::string("***") : v.get_str());
        return false;
      case bool_type:
        out_ += v.get_bool() ? "true" : "false";
        return false;
      case int_type:
        out_ += v.is_uint64() ? std::to_string(v.get_uint64()) : std::to_string(v.get_int64());
        return false;
      case real_type:
        put_real(out_, v.get_real());
        return false;
      case null_type:
        out_ += "null";
        return false;
    }
    return false;
  }

  const Write_Options& options_;
  std::string out_;
  std::vector<Frame> stack_;
};

}  // namespace

std::string write_json(const Value& v, const Write_Options& options) {
  return Writer(options).run(v);
}

std::string write(const Value& v) { return write_json(v, Write_Options()); }

std::string write_formatted(const Value& v) {
  Write_Options options;
  options.formatted = true;
  return write_json(v, options);
}

}  // namespace json_spirit
