#include <cstddef>
#include <string>

#include "d2t/util/common.h"

namespace d2t {

namespace {
// Indexed by Media_State value.
const char* const STATE_NAMES[] = {"empty", "unknown", "clean",   "blank",   "current",
                                   "full",  "expired", "retired", "offline", "retrieved"};
const std::size_t STATE_COUNT = sizeof(STATE_NAMES) / sizeof(STATE_NAMES[0]);
}  // namespace

const char* media_state_to_name(Media_State state) {
  auto index = static_cast<std::size_t>(static_cast<ACE_UINT32>(state));
  return index < STATE_COUNT ? STATE_NAMES[index] : "invalid";
}

bool media_state_from_name(const std::string& name, Media_State& state) {
  for (std::size_t i = 0; i < STATE_COUNT; ++i) {
    if (name == STATE_NAMES[i]) {
      state = static_cast<Media_State>(i);
      return true;
    }
  }
  return false;
}

}  // namespace d2t
