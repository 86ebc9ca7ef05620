#include "d2t/util/drive.h"


#include "d2t/util/json_fields.h"

namespace d2t {

Drive::Drive() { init(); }

void Drive::init() {
  id_ = 0;
  changer_id_ = 0;
  serial_number_.clear();
  target_name_.clear();
  lun_ = 0;
  drive_number_ = 0;
  sg_name_.clear();
  dev_name_.clear();
  vendor_.clear();
  model_.clear();
  min_block_ = 0;
  max_block_ = 0;
  last_use_time_ = 0;
  media_id_ = 0;
  slot_number_ = 0;
  media_tag_.clear();
  media_pool_uuid_.clear();
  faulty_ = false;
}

bool Drive::to_json(json_spirit::Object& out) const {
  out["id"] = static_cast<std::int64_t>(id_);
  out["changer_id"] = static_cast<std::int64_t>(changer_id_);
  out["serial_number"] = serial_number_;
  out["target_name"] = target_name_;
  out["lun"] = static_cast<std::int64_t>(lun_);
  out["drive_number"] = static_cast<std::int64_t>(drive_number_);
  out["sg_name"] = sg_name_;
  out["dev_name"] = dev_name_;
  out["vendor"] = vendor_;
  out["model"] = model_;
  out["min_block"] = static_cast<std::uint64_t>(min_block_);
  out["max_block"] = static_cast<std::uint64_t>(max_block_);
  out["last_use_time"] = static_cast<std::int64_t>(last_use_time_);
  out["media_id"] = static_cast<std::int64_t>(media_id_);
  out["slot_number"] = static_cast<std::int64_t>(slot_number_);
  out["media_tag"] = media_tag_;
  out["media_pool_uuid"] = media_pool_uuid_;
  out["faulty"] = faulty_;
  return true;
}

bool Drive::load_from_json(const json_spirit::Value& v) {
  if (v.type() != json_spirit::obj_type) return false;
  const json_spirit::Object& o = v.get_obj();
  using json_fields::read;
  using json_fields::read_int;
  return read_int(o, "id", id_) && read_int(o, "changer_id", changer_id_) &&
         read(o, "serial_number", serial_number_) && read(o, "target_name", target_name_) &&
         read_int(o, "lun", lun_) && read_int(o, "drive_number", drive_number_) &&
         read(o, "sg_name", sg_name_) && read(o, "dev_name", dev_name_) &&
         read(o, "vendor", vendor_) && read(o, "model", model_) &&
         read_int(o, "min_block", min_block_) && read_int(o, "max_block", max_block_) &&
         read_int(o, "last_use_time", last_use_time_) && read_int(o, "media_id", media_id_) &&
         read_int(o, "slot_number", slot_number_) && read(o, "media_tag", media_tag_) &&
         read(o, "media_pool_uuid", media_pool_uuid_) && read(o, "faulty", faulty_);
}

}  // namespace d2t
