// One slot of a tape library and the cartridge in it, if any. A plain
// value holder: every field has an inline getter and setter.
#ifndef D2T_UTIL_MEDIA_H
#define D2T_UTIL_MEDIA_H

#include <ctime>
#include <string>

#include "d2t/util/common.h"
#include "json_spirit/json_spirit_value.h"

namespace d2t {

class Media {
 public:
  // A new record is as after init(): numbers 0, texts empty, MST_EMPTY,
  // not a porter.
  Media();

  void init();

  // Writes every field under its name without the trailing underscore;
  // "state" holds media_state_to_name(state). Always true.
  bool to_json(json_spirit::Object& out) const;

  // Fills the record from an object keyed as to_json writes it (an
  // inventory row of table `slot` works); "state" may be a name or a
  // number. Missing or null keys leave the field unchanged. False when `v`
  // is not an object or a present key holds a wrong type or an unknown
  // state.
  bool load_from_json(const json_spirit::Value& v);

  ACE_INT64 id() const { return id_; }
  void id(ACE_INT64 v) { id_ = v; }
  ACE_INT64 changer_id() const { return changer_id_; }
  void changer_id(ACE_INT64 v) { changer_id_ = v; }
  ACE_INT32 slot_number() const { return slot_number_; }
  void slot_number(ACE_INT32 v) { slot_number_ = v; }
  ACE_INT32 block_size() const { return block_size_; }
  void block_size(ACE_INT32 v) { block_size_ = v; }
  const std::string& media_tag() const { return media_tag_; }
  void media_tag(const std::string& v) { media_tag_ = v; }
  const std::string& label() const { return label_; }
  void label(const std::string& v) { label_ = v; }
  Media_State state() const { return state_; }
  void state(Media_State v) { state_ = v; }
  ACE_UINT64 capacity() const { return capacity_; }
  void capacity(ACE_UINT64 v) { capacity_ = v; }
  ACE_UINT64 used() const { return used_; }
  void used(ACE_UINT64 v) { used_ = v; }
  ACE_UINT32 used_times() const { return used_times_; }
  void used_times(ACE_UINT32 v) { used_times_ = v; }
  ACE_UINT64 files() const { return files_; }
  void files(ACE_UINT64 v) { files_ = v; }
  time_t last_write_time() const { return last_write_time_; }
  void last_write_time(time_t v) { last_write_time_ = v; }
  const std::string& media_pool_uuid() const { return media_pool_uuid_; }
  void media_pool_uuid(const std::string& v) { media_pool_uuid_ = v; }
  bool is_porter() const { return is_porter_; }
  void is_porter(bool v) { is_porter_ = v; }

 private:
  ACE_INT64 id_;
  ACE_INT64 changer_id_;
  ACE_INT32 slot_number_;
  ACE_INT32 block_size_;
  std::string media_tag_;
  std::string label_;
  Media_State state_;
  ACE_UINT64 capacity_;  // bytes; 0 when not known
  ACE_UINT64 used_;
  ACE_UINT32 used_times_;
  ACE_UINT64 files_;
  time_t last_write_time_;
  std::string media_pool_uuid_;
  bool is_porter_;
};

}  // namespace d2t

#endif
