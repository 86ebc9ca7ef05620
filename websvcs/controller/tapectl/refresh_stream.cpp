// The refresh reply, piece by piece.
#include "websvcs/controller/tapectl/refresh_stream.h"

#include <string>
#include <utility>

#include "d2t/controller/refresh_status.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "websvcs/framework/yajl_gen.h"

namespace {

// Writes `v` as json_spirit writes it, as one value of the document, so
// the text is that of the whole reply's writer.
void write_as_is(YAJL_Gen& g, const json_spirit::Value& v) {
  const std::string text = json_spirit::write(v);
  g.note(yajl_gen_number(g.get(), text.data(), text.size()));
}

}  // namespace

Refresh_Stream::Refresh_Stream(d2t::Changer_var changer) : changer_(std::move(changer)) {
  if (changer_.null()) return;
  changer_->to_json(head_);
  add_refresh_drives(*changer_, json_spirit::to_new_array(head_["drives"]));
  head_["slots"] = json_spirit::Value();
}

bool Refresh_Stream::next(yajl_gen_t* raw, bool& done) {
  if (changer_.null()) return false;
  YAJL_Gen g(raw, false);
  if (!started_) {
    started_ = true;
    g.note(yajl_gen_map_open(raw));
    key_ = head_.begin();
  }
  if (in_slots_) {
    const std::vector<d2t::Media_var>& slots = changer_->medias();
    for (std::size_t n = 0; n < SLOTS_PER_PIECE && slot_ < slots.size(); ++slot_) {
      if (slots[slot_].null()) continue;
      const std::string text = refresh_slot_text(*slots[slot_]);
      g.note(yajl_gen_number(raw, text.data(), text.size()));
      ++n;
    }
    if (slot_ < slots.size()) return g.ok();
    g.note(yajl_gen_array_close(raw));
    in_slots_ = false;
    ++key_;
  }
  for (; key_ != head_.end(); ++key_) {
    g << key_->first;
    if (key_->first == "slots") {
      g.note(yajl_gen_array_open(raw));
      in_slots_ = true;
      slot_ = 0;
      return g.ok();
    }
    write_as_is(g, key_->second);
  }
  g.note(yajl_gen_map_close(raw));
  done = true;
  return g.ok();
}
