// A device provider that hands every transport another provider opens to a
// function, which may put a device of its own (a quirk, a recorder) in
// front of it; and such a function that shows every command to a watcher.
#ifndef TESTING_WRAPPING_PROVIDER_H
#define TESTING_WRAPPING_PROVIDER_H

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "d2t/scsi/transport.h"

namespace test_support {

class Wrapping_Provider : public d2t::scsi::Device_Provider {
 public:
  using Wrap =
      std::function<std::unique_ptr<d2t::scsi::Transport>(std::unique_ptr<d2t::scsi::Transport>)>;
  Wrapping_Provider(std::shared_ptr<d2t::scsi::Device_Provider> inner, Wrap wrap)
      : inner_(std::move(inner)), wrap_(std::move(wrap)) {}
  bool list(std::vector<d2t::scsi::Device_Entry>& out, std::string* e) override {
    return inner_->list(out, e);
  }
  // A device that does not open is not wrapped.
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* e) override {
    std::unique_ptr<d2t::scsi::Transport> t = inner_->open(name, e);
    return t ? wrap_(std::move(t)) : nullptr;
  }

 private:
  std::shared_ptr<d2t::scsi::Device_Provider> inner_;
  Wrap wrap_;
};

// Puts in front of every device a transport that shows each command to
// `see` (from whichever thread sends it) before passing it on.
inline Wrapping_Provider::Wrap watch_commands(std::function<void(const d2t::scsi::Command&)> see) {
  struct Watching : d2t::scsi::Transport {
    std::unique_ptr<d2t::scsi::Transport> inner;
    std::function<void(const d2t::scsi::Command&)> see;
    d2t::scsi::Outcome execute(const d2t::scsi::Command& cmd) override {
      see(cmd);
      return inner->execute(cmd);
    }
  };
  return [see](std::unique_ptr<d2t::scsi::Transport> t) -> std::unique_ptr<d2t::scsi::Transport> {
    auto w = std::make_unique<Watching>();
    w->inner = std::move(t);
    w->see = see;
    return w;
  };
}

}  // namespace test_support

#endif
