// One tape drive. A plain value holder: every field has an inline getter
// and setter.
#ifndef D2T_UTIL_DRIVE_H
#define D2T_UTIL_DRIVE_H

#include <ctime>
#include <string>

#include "d2t/util/common.h"
#include "json_spirit/json_spirit_value.h"

namespace d2t {

class Drive {
 public:
  // A new record is as after init(): ids, numbers and times 0, texts
  // empty, not faulty.
  Drive();

  void init();

  // Writes every field under its name without the trailing underscore
  // ("id", "changer_id", "serial_number", ..., "faulty"). Always true.
  bool to_json(json_spirit::Object& out) const;

  // Fills the record from an object keyed by field name (an inventory row
  // of table `drive` works). Missing or null keys leave the field
  // unchanged. False when `v` is not an object or a present key holds a
  // value of the wrong type.
  bool load_from_json(const json_spirit::Value& v);

  ACE_INT64 id() const { return id_; }
  void id(ACE_INT64 v) { id_ = v; }
  ACE_INT64 changer_id() const { return changer_id_; }
  void changer_id(ACE_INT64 v) { changer_id_ = v; }
  const std::string& serial_number() const { return serial_number_; }
  void serial_number(const std::string& v) { serial_number_ = v; }
  const std::string& target_name() const { return target_name_; }
  void target_name(const std::string& v) { target_name_ = v; }
  ACE_UINT32 lun() const { return lun_; }
  void lun(ACE_UINT32 v) { lun_ = v; }
  ACE_UINT32 drive_number() const { return drive_number_; }
  void drive_number(ACE_UINT32 v) { drive_number_ = v; }
  const std::string& sg_name() const { return sg_name_; }
  void sg_name(const std::string& v) { sg_name_ = v; }
  const std::string& dev_name() const { return dev_name_; }
  void dev_name(const std::string& v) { dev_name_ = v; }
  const std::string& vendor() const { return vendor_; }
  void vendor(const std::string& v) { vendor_ = v; }
  const std::string& model() const { return model_; }
  void model(const std::string& v) { model_ = v; }
  ACE_UINT64 min_block() const { return min_block_; }
  void min_block(ACE_UINT64 v) { min_block_ = v; }
  ACE_UINT64 max_block() const { return max_block_; }
  void max_block(ACE_UINT64 v) { max_block_ = v; }
  time_t last_use_time() const { return last_use_time_; }
  void last_use_time(time_t v) { last_use_time_ = v; }
  ACE_INT64 media_id() const { return media_id_; }
  void media_id(ACE_INT64 v) { media_id_ = v; }
  ACE_INT32 slot_number() const { return slot_number_; }
  void slot_number(ACE_INT32 v) { slot_number_ = v; }
  const std::string& media_tag() const { return media_tag_; }
  void media_tag(const std::string& v) { media_tag_ = v; }
  const std::string& media_pool_uuid() const { return media_pool_uuid_; }
  void media_pool_uuid(const std::string& v) { media_pool_uuid_ = v; }
  bool faulty() const { return faulty_; }
  void faulty(bool v) { faulty_ = v; }

 private:
  ACE_INT64 id_;
  ACE_INT64 changer_id_;
  std::string serial_number_;
  std::string target_name_;
  ACE_UINT32 lun_;
  ACE_UINT32 drive_number_;
  std::string sg_name_;
  std::string dev_name_;
  std::string vendor_;
  std::string model_;
  ACE_UINT64 min_block_;
  ACE_UINT64 max_block_;
  time_t last_use_time_;
  ACE_INT64 media_id_;
  ACE_INT32 slot_number_;  // 0 or less: the drive is empty
  std::string media_tag_;
  std::string media_pool_uuid_;
  bool faulty_;
};

}  // namespace d2t

#endif
