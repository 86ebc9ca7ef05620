#include "d2t/util/media.h"

#include "d2t/util/json_fields.h"

namespace d2t {

Media::Media() { init(); }

void Media::init() {
  id_ = 0;
  changer_id_ = 0;
  slot_number_ = 0;
  block_size_ = 0;
  media_tag_.clear();
  label_.clear();
  state_ = MST_EMPTY;
  capacity_ = 0;
  used_ = 0;
  used_times_ = 0;
  files_ = 0;
  last_write_time_ = 0;
  media_pool_uuid_.clear();
  is_porter_ = false;
}

bool Media::to_json(json_spirit::Object& out) const {
  out["id"] = static_cast<std::int64_t>(id_);
  out["changer_id"] = static_cast<std::int64_t>(changer_id_);
  out["slot_number"] = static_cast<std::int64_t>(slot_number_);
  out["block_size"] = static_cast<std::int64_t>(block_size_);
  out["media_tag"] = media_tag_;
  out["label"] = label_;
  out["state"] = media_state_to_name(state_);
  out["capacity"] = static_cast<std::uint64_t>(capacity_);
  out["used"] = static_cast<std::uint64_t>(used_);
  out["used_times"] = static_cast<std::int64_t>(used_times_);
  out["files"] = static_cast<std::uint64_t>(files_);
  out["last_write_time"] = static_cast<std::int64_t>(last_write_time_);
  out["media_pool_uuid"] = media_pool_uuid_;
  out["is_porter"] = is_porter_;
  return true;
}

namespace {
bool read_state(const json_spirit::Object& o, Media_State& state) {
  const json_spirit::Value* v = json_fields::find(o, "state");
  if (!v) return true;
  if (v->type() == json_spirit::str_type) return media_state_from_name(v->get_str(), state);
  std::int32_t n = 0;
  if (!json_fields::read_int(o, "state", n)) return false;
  if (n < MST_EMPTY || n > MST_RETRIEVED) return false;
  state = static_cast<Media_State>(n);
  return true;
}
}  // namespace

bool Media::load_from_json(const json_spirit::Value& v) {
  if (v.type() != json_spirit::obj_type) return false;
  const json_spirit::Object& o = v.get_obj();
  using json_fields::read;
  using json_fields::read_int;
  return read_int(o, "id", id_) && read_int(o, "changer_id", changer_id_) &&
         read_int(o, "slot_number", slot_number_) && read_int(o, "block_size", block_size_) &&
         read(o, "media_tag", media_tag_) && read(o, "label", label_) && read_state(o, state_) &&
         read_int(o, "capacity", capacity_) && read_int(o, "used", used_) &&
         read_int(o, "used_times", used_times_) && read_int(o, "files", files_) &&
         read_int(o, "last_write_time", last_write_time_) &&
         read(o, "media_pool_uuid", media_pool_uuid_) && read(o, "is_porter", is_porter_);
}

}  // namespace d2t
