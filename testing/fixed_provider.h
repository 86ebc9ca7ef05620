// A host whose devices are a fixed list of changers that never open: for
// the paths where the listing fails, lists nothing, or lists a device that
// cannot be opened.
#ifndef TESTING_FIXED_PROVIDER_H
#define TESTING_FIXED_PROVIDER_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "d2t/scsi/transport.h"

namespace test_support {

class Fixed_Provider : public d2t::scsi::Device_Provider {
 public:
  // Changers at `changer_sg_names`; a non-empty `list_error` fails the
  // listing with that text.
  explicit Fixed_Provider(std::vector<std::string> changer_sg_names = {},
                          std::string list_error = "")
      : changers(std::move(changer_sg_names)), list_error(std::move(list_error)) {}
  bool list(std::vector<d2t::scsi::Device_Entry>& out, std::string* error) override {
    if (!list_error.empty()) {
      if (error) *error = list_error;
      return false;
    }
    for (const std::string& name : changers) {
      d2t::scsi::Device_Entry e;
      e.kind = d2t::scsi::Device_Kind::CHANGER;
      e.sg_name = name;
      out.push_back(e);
    }
    return true;
  }
  // Every open fails: "cannot open NAME: Permission denied".
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* error) override {
    if (error) *error = "cannot open " + name + ": Permission denied";
    return nullptr;
  }

  std::vector<std::string> changers;
  std::string list_error;
};

}  // namespace test_support

#endif
