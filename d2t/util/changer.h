// A tape library (one SCSI medium changer) with its drives and slots.
// A plain value holder: every field has an inline getter and setter. The
// device utility library fills it from the device listing and the element
// status; the controller completes it.
#ifndef D2T_UTIL_CHANGER_H
#define D2T_UTIL_CHANGER_H

#include <string>
#include <vector>

#include "d2t/util/common.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "json_spirit/json_spirit_value.h"

namespace d2t {

class Changer {
 public:
  // A new record is as after init(): ids 0, texts empty, no drives/media.
  Changer();

  // Resets every field to its initial value and empties both vectors.
  void init();

  // Writes "id", "serial_number", "target_name", "lun", "vendor", "model",
  // "sg_name" and "type" into `out` (replacing those keys, keeping others).
  // Drives and media are not written. Always true.
  bool to_json(json_spirit::Object& out) const;

  // Fills the record from an inventory row (an object keyed by column
  // name). Keys that are missing or null leave the field unchanged; the
  // vectors are untouched. False when `v` is not an object or a present
  // key holds a value of the wrong type (fields read before it stay set).
  bool load_from_json(const json_spirit::Value& v);

  void add_drive(const Drive_var& drive) { drives_.push_back(drive); }
  void add_media(const Media_var& media) { medias_.push_back(media); }

  ACE_INT64 id() const { return id_; }
  void id(ACE_INT64 v) { id_ = v; }
  const std::string& serial_number() const { return serial_number_; }
  void serial_number(const std::string& v) { serial_number_ = v; }
  const std::string& target_name() const { return target_name_; }
  void target_name(const std::string& v) { target_name_ = v; }
  ACE_UINT32 lun() const { return lun_; }
  void lun(ACE_UINT32 v) { lun_ = v; }
  const std::string& vendor() const { return vendor_; }
  void vendor(const std::string& v) { vendor_ = v; }
  const std::string& model() const { return model_; }
  void model(const std::string& v) { model_ = v; }
  const std::string& sg_name() const { return sg_name_; }
  void sg_name(const std::string& v) { sg_name_ = v; }
  const std::string& type() const { return type_; }
  void type(const std::string& v) { type_ = v; }
  const std::vector<Drive_var>& drives() const { return drives_; }
  std::vector<Drive_var>& drives() { return drives_; }
  const std::vector<Media_var>& medias() const { return medias_; }
  std::vector<Media_var>& medias() { return medias_; }

 private:
  ACE_INT64 id_;
  std::string serial_number_;
  std::string target_name_;
  ACE_UINT32 lun_;
  std::string vendor_;
  std::string model_;
  std::string sg_name_;
  std::string type_;  // "physical", "virtual" or empty until detected
  std::vector<Drive_var> drives_;
  std::vector<Media_var> medias_;
};

}  // namespace d2t

#endif
