// Writing the Prometheus text exposition format, version 0.0.4.
//
// Pure text functions: no registry, no locks, no I/O. A family is written
// as its "# HELP" and "# TYPE" lines followed by its samples; label values
// are escaped as the format requires (backslash, double quote and line
// feed), HELP text escapes backslash and line feed.
#ifndef D2T_METRICS_EXPOSITION_H
#define D2T_METRICS_EXPOSITION_H

#include <string>
#include <utility>
#include <vector>

namespace d2t {
namespace metrics {

// The content type of a page in this format.
extern const char* const TEXT_CONTENT_TYPE;  // "text/plain; version=0.0.4"

typedef std::vector<std::pair<std::string, std::string>> Labels;

// One sample line: `name{labels} value`.
struct Sample {
  std::string name;  // the family name, or it with _bucket/_sum/_count
  Labels labels;
  double value;
};

// A metric family. `type` is "counter", "gauge" or "histogram".
struct Family {
  std::string name;
  std::string help;
  std::string type;
  std::vector<Sample> samples;
};

// `value` with \\ for a backslash, \" for a double quote and \n for a line
// feed; everything else, any byte, as it is.
std::string escape_label_value(const std::string& value);
// `text` with \\ for a backslash and \n for a line feed.
std::string escape_help(const std::string& text);
// A sample value or bucket bound: integers without a fraction, "+Inf",
// "-Inf", "NaN", anything else in the shortest form that reads back as the
// same double ("0.025").
std::string format_value(double value);
// Appends the family (HELP, TYPE, then every sample) to `out`. A family
// without samples writes only its HELP and TYPE lines.
void write_family(const Family& family, std::string& out);

}  // namespace metrics
}  // namespace d2t

#endif
