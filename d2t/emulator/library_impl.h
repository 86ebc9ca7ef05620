// Inside of Library, shared by its source files.
#ifndef D2T_EMULATOR_LIBRARY_IMPL_H
#define D2T_EMULATOR_LIBRARY_IMPL_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "d2t/emulator/io.h"
#include "d2t/emulator/library.h"

namespace d2t {
namespace emulator {

const Changer_Config* find_config(const Library_Config& lib,
                                  const std::string& serial);

// Everything behind Library. Members marked (mutex_) are only touched with
// mutex_ held; the state additionally only under the file lock.
class Library_Impl {
 public:
  // Runs `fn` under both locks on an up-to-date state; writes the state
  // back when `fn` returns true or reconciliation changed it.
  using Step = std::function<bool(const Library_Config&, Library_State&)>;
  bool transact(const Step& fn, std::string* error, bool fresh = false);
  bool refresh_config(std::string* error);  // (mutex_)

  std::string file_;
  std::shared_ptr<Clock> clock_;
  std::mutex mutex_;
  std::shared_ptr<const Library_Config> config_;  // (mutex_)
  File_Stamp config_stamp_;                        // (mutex_)
  std::size_t config_hash_ = 0;                    // (mutex_)
  std::string fault_signature_;                    // (mutex_)
  std::string lock_path_;                          // (mutex_)
  Fd lock_fd_;                                     // (mutex_)
  Library_State state_;                            // (mutex_ + flock)
  bool state_loaded_ = false;                      // (mutex_)
  // Load count of each drive last seen by this process, keyed by changer
  // serial; a newer load raises one unit attention. (mutex_)
  std::map<std::string, std::vector<std::uint64_t>> seen_loads_;

 private:
  bool load_state(bool& dirty, std::string* error);
  bool reconcile(const Library_Config& lib);
  void remember_loads(const Changer_State& c, bool overwrite);
  Library_State fresh_state(const Library_Config& lib);
};

}  // namespace emulator
}  // namespace d2t

#endif
