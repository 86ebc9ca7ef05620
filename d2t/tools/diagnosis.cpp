// Per-thread records of why device operations failed.
#include "d2t/tools/diagnosis.h"

#include <utility>

#include "d2t/scsi/sense_text.h"

namespace d2t {
namespace tools {

namespace {

struct Diagnosis {
  std::string failure;
  std::string listing_error;
  std::vector<std::string> left_out;
};

Diagnosis& mine() {
  thread_local Diagnosis d;
  return d;
}

}  // namespace

const std::string& last_failure() { return mine().failure; }
const std::string& listing_error() { return mine().listing_error; }
const std::vector<std::string>& listing_left_out() { return mine().left_out; }

void clear_failure() { mine().failure.clear(); }

void note_failure(const d2t::scsi::Result& r) { mine().failure = d2t::scsi::explain(r); }

void note_refusal(const std::string& why) { mine().failure = why; }

void note_listing(const std::string& error, std::vector<std::string> left_out) {
  mine().listing_error = error;
  mine().left_out = std::move(left_out);
}

}  // namespace tools
}  // namespace d2t
