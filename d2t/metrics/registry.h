// Counters and histograms keyed by label values, safe from any thread.
//
// Each family guards its cells with a mutex of its own that is held only for
// a map lookup and an addition (recording) or a copy (collecting): recording
// never waits on anything but another recording or a scrape's copy of that
// one family, never on a device. Label values are whatever the caller
// passes; the caller keeps their number bounded (library serial numbers,
// move kinds, configured routes).
#ifndef D2T_METRICS_REGISTRY_H
#define D2T_METRICS_REGISTRY_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "d2t/metrics/exposition.h"

namespace d2t {
namespace metrics {

typedef std::vector<std::string> Label_Values;

// A family of counters: one value per distinct set of label values.
class Counter_Family {
 public:
  Counter_Family(std::string name, std::string help, std::vector<std::string> label_names);
  Counter_Family(const Counter_Family&) = delete;
  Counter_Family& operator=(const Counter_Family&) = delete;

  // Adds `by` (not negative; a negative amount is ignored) to the counter of
  // `values`, created at 0 on first use. `values` has one entry per label
  // name (extra entries are dropped, missing ones are "").
  void add(const Label_Values& values, double by = 1);
  // The current value of `values`' counter, 0 when never recorded.
  double value(const Label_Values& values) const;
  // A snapshot as a "counter" family, samples in label-value order.
  Family collect() const;

 private:
  Label_Values fit(const Label_Values& values) const;

  const std::string name_;
  const std::string help_;
  const std::vector<std::string> label_names_;
  mutable std::mutex mutex_;  // guards values_
  std::map<Label_Values, double> values_;
};

// A family of histograms with fixed upper bounds (seconds, ascending).
class Histogram_Family {
 public:
  Histogram_Family(std::string name, std::string help, std::vector<std::string> label_names,
                   std::vector<double> bounds);
  Histogram_Family(const Histogram_Family&) = delete;
  Histogram_Family& operator=(const Histogram_Family&) = delete;

  // Counts one observation of `value` for `values` (label values as for
  // Counter_Family::add). A NaN is ignored.
  void observe(const Label_Values& values, double value);
  // Observations recorded for `values` so far.
  std::uint64_t count(const Label_Values& values) const;
  // A snapshot as a "histogram" family: per label set cumulative _bucket
  // samples (le = each bound, then "+Inf"), _sum and _count.
  Family collect() const;

 private:
  struct Cells {
    std::vector<std::uint64_t> buckets;  // per bound, not cumulative; last is +Inf
    double sum = 0;
    std::uint64_t count = 0;
  };
  Label_Values fit(const Label_Values& values) const;

  const std::string name_;
  const std::string help_;
  const std::vector<std::string> label_names_;
  const std::vector<double> bounds_;
  mutable std::mutex mutex_;  // guards cells_
  std::map<Label_Values, Cells> cells_;
};

}  // namespace metrics
}  // namespace d2t

#endif
