// Counter and histogram families.
#include "d2t/metrics/registry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace d2t {
namespace metrics {

namespace {

Label_Values fit_to(const Label_Values& values, std::size_t n) {
  Label_Values out(values.begin(), values.begin() + std::min(values.size(), n));
  out.resize(n);
  return out;
}

Labels zip(const std::vector<std::string>& names, const Label_Values& values) {
  Labels out;
  out.reserve(names.size() + 1);
  for (std::size_t i = 0; i < names.size(); ++i) out.emplace_back(names[i], values[i]);
  return out;
}

}  // namespace

Counter_Family::Counter_Family(std::string name, std::string help,
                               std::vector<std::string> label_names)
    : name_(std::move(name)), help_(std::move(help)), label_names_(std::move(label_names)) {}

Label_Values Counter_Family::fit(const Label_Values& values) const {
  return fit_to(values, label_names_.size());
}

void Counter_Family::add(const Label_Values& values, double by) {
  if (!(by >= 0)) return;
  Label_Values key = fit(values);
  std::lock_guard<std::mutex> lock(mutex_);
  values_[std::move(key)] += by;
}

double Counter_Family::value(const Label_Values& values) const {
  Label_Values key = fit(values);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? 0 : it->second;
}

Family Counter_Family::collect() const {
  std::map<Label_Values, double> copy;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    copy = values_;
  }
  Family f{name_, help_, "counter", {}};
  f.samples.reserve(copy.size());
  for (const auto& v : copy)
    f.samples.push_back(Sample{name_, zip(label_names_, v.first), v.second});
  return f;
}

Histogram_Family::Histogram_Family(std::string name, std::string help,
                                   std::vector<std::string> label_names, std::vector<double> bounds)
    : name_(std::move(name)),
      help_(std::move(help)),
      label_names_(std::move(label_names)),
      bounds_(std::move(bounds)) {}

Label_Values Histogram_Family::fit(const Label_Values& values) const {
  return fit_to(values, label_names_.size());
}

void Histogram_Family::observe(const Label_Values& values, double value) {
  if (std::isnan(value)) return;
  // The bucket is found before the lock is taken.
  const std::size_t bucket =
      std::lower_bound(bounds_.begin(), bounds_.end(), value) - bounds_.begin();
  Label_Values key = fit(values);
  std::lock_guard<std::mutex> lock(mutex_);
  Cells& c = cells_[std::move(key)];
  if (c.buckets.empty()) c.buckets.assign(bounds_.size() + 1, 0);
  ++c.buckets[bucket];
  c.sum += value;
  ++c.count;
}

std::uint64_t Histogram_Family::count(const Label_Values& values) const {
  Label_Values key = fit(values);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = cells_.find(key);
  return it == cells_.end() ? 0 : it->second.count;
}

Family Histogram_Family::collect() const {
  std::map<Label_Values, Cells> copy;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    copy = cells_;
  }
  Family f{name_, help_, "histogram", {}};
  for (const auto& c : copy) {
    const Labels base = zip(label_names_, c.first);
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= bounds_.size(); ++i) {
      cumulative += c.second.buckets[i];
      Labels l = base;
      l.emplace_back("le", i < bounds_.size() ? format_value(bounds_[i]) : "+Inf");
      f.samples.push_back(Sample{name_ + "_bucket", std::move(l), static_cast<double>(cumulative)});
    }
    f.samples.push_back(Sample{name_ + "_sum", base, c.second.sum});
    f.samples.push_back(Sample{name_ + "_count", base, static_cast<double>(c.second.count)});
  }
  return f;
}

}  // namespace metrics
}  // namespace d2t
