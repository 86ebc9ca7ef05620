#include "d2t/util/changer.h"

#include "d2t/util/json_fields.h"

namespace d2t {

Changer::Changer() { init(); }

void Changer::init() {
  id_ = 0;
  serial_number_.clear();
  target_name_.clear();
  lun_ = 0;
  vendor_.clear();
  model_.clear();
  sg_name_.clear();
  type_.clear();
  drives_.clear();
  medias_.clear();
}

bool Changer::to_json(json_spirit::Object& out) const {
  out["id"] = static_cast<std::int64_t>(id_);
  out["serial_number"] = serial_number_;
  out["target_name"] = target_name_;
  out["lun"] = static_cast<std::int64_t>(lun_);
  out["vendor"] = vendor_;
  out["model"] = model_;
  out["sg_name"] = sg_name_;
  out["type"] = type_;
  return true;
}

bool Changer::load_from_json(const json_spirit::Value& v) {
  if (v.type() != json_spirit::obj_type) return false;
  const json_spirit::Object& o = v.get_obj();
  using json_fields::read;
  using json_fields::read_int;
  return read_int(o, "id", id_) && read(o, "serial_number", serial_number_) &&
         read(o, "target_name", target_name_) && read_int(o, "lun", lun_) &&
         read(o, "vendor", vendor_) && read(o, "model", model_) && read(o, "sg_name", sg_name_) &&
         read(o, "type", type_);
}

}  // namespace d2t
