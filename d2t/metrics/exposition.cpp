// The text exposition format 0.0.4, by hand: it is small and well defined.
#include "d2t/metrics/exposition.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace d2t {
namespace metrics {

const char* const TEXT_CONTENT_TYPE = "text/plain; version=0.0.4";

std::string escape_label_value(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string escape_help(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string format_value(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[40];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", value);
    return buf;
  }
  // The fewest significant digits that read back as the same double:
  // 0.025 rather than 0.025000000000000001.
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return buf;
}

void write_family(const Family& family, std::string& out) {
  out += "# HELP ";
  out += family.name;
  out += ' ';
  out += escape_help(family.help);
  out += "\n# TYPE ";
  out += family.name;
  out += ' ';
  out += family.type;
  out += '\n';
  for (const Sample& s : family.samples) {
    out += s.name;
    if (!s.labels.empty()) {
      out += '{';
      bool first = true;
      for (const auto& l : s.labels) {
        if (!first) out += ',';
        first = false;
        out += l.first;
        out += "=\"";
        out += escape_label_value(l.second);
        out += '"';
      }
      out += '}';
    }
    out += ' ';
    out += format_value(s.value);
    out += '\n';
  }
}

}  // namespace metrics
}  // namespace d2t
