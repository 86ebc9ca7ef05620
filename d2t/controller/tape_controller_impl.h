// Persistence interface of the tape controller.
//
// Every read or write of the inventory of changers, drives and slots goes
// through a Tape_Controller_Impl. Records travel as json_spirit::Object keyed
// by column name (integers as JSON integers, text as strings, NULL as JSON
// null); lists travel as json_spirit::Array. Row ids and changer ids are
// signed 64-bit (-1 means none); drive and slot numbers are signed 32-bit.
//
// Results, not exceptions: no operation throws. Operations returning bool are
// true on success; those returning an id give -1 on failure. Lookups that find
// nothing return false and leave their output untouched. Implementations keep
// no state between calls, so one object may be used by many threads at once;
// ordering between calls is the caller's.
#ifndef D2T_CONTROLLER_TAPE_CONTROLLER_IMPL_H
#define D2T_CONTROLLER_TAPE_CONTROLLER_IMPL_H

#include <string>

#include <ace/Basic_Types.h>

#include "d2t/util/media.h"
#include "json_spirit/json_spirit_value.h"

class Tape_Controller_Impl {
 public:
  virtual ~Tape_Controller_Impl() {}

  // True when the inventory can be reached. Nothing is kept open.
  virtual bool open() = 0;
  // Releases whatever open() prepared (nothing, for the database back end).
  virtual void close() = 0;

  // Forgets every stored device name (changer sg_name, drive sg_name and
  // dev_name) all at once; on false nothing changed.
  virtual bool reset() = 0;
  // Deletes every changer with this serial number together with its drives
  // and slots. Result of the delete statement.
  virtual bool clear(const std::string& serial_number) = 0;

  // For the drive with this serial number: drive_id, dev_name, slot_number,
  // drive_number, sg_name (the changer's), changer_serial_number, changer_id,
  // failures and host_id (whose drive it is). False when there is no such
  // drive.
  virtual bool get_tape_device(const std::string& serial_number, json_spirit::Object& device) = 0;

  // Adds a changer row from the keys target_name, lun, vendor, model,
  // sg_name, type and serial_number of `data`; the new id or -1.
  virtual ACE_INT64 add_changer(const json_spirit::Object& data) = 0;
  // The changer row (all columns) with this serial number.
  virtual bool get_changer(const std::string& serial_number, json_spirit::Object& result) = 0;
  virtual bool set_changer_name(ACE_INT64 id, const std::string& sg_name) = 0;
  // The changer's type text; empty when unknown or unreachable.
  virtual const std::string get_changer_type(ACE_INT64 id) = 0;
  virtual bool set_changer_type(ACE_INT64 id, const std::string& type) = 0;

  // Adds a drive row from the keys changer_id, target_name, lun,
  // drive_number, sg_name, dev_name, vendor, model, slot_number,
  // serial_number and failures of `data`; the new id, or -1 (also when the
  // changer already has a drive with that number).
  virtual ACE_INT64 add_drive(const json_spirit::Object& data) = 0;
  // The drive row (all columns) with this serial number.
  virtual bool get_drive(const std::string& serial_number, json_spirit::Object& result) = 0;
  // The drive row with this number in this changer.
  virtual bool get_drive(ACE_INT64 changer_id, ACE_INT32 drive_number, json_spirit::Object& result) = 0;
  // Sets slot_number of the drive with this device name to `data` as it is
  // (JSON null stores NULL).
  virtual bool set_drive_slot(const std::string& dev_name, const json_spirit::Value& data) = 0;
  // Sets slot_number of the drive with this serial number; 0 or a negative
  // number stores NULL (no cartridge loaded). In the same transaction the
  // home slot is marked unoccupied on a load and occupied on an unload.
  virtual bool set_drive_slot(const std::string& serial_number, ACE_INT64 slot_number) = 0;
  virtual bool set_drive_name(ACE_INT64 id, const std::string& sg_name, const std::string& dev_name) = 0;

  // Adds a slot row from the keys changer_id, slot_number, media_tag,
  // is_porter and occupied of `data` (a missing key takes the column's
  // default); the new id, or -1 (also for a duplicate slot number).
  virtual ACE_INT64 add_slot(const json_spirit::Object& data) = 0;
  // Adds a slot row for a medium; an empty media tag stores NULL, occupied
  // is slot_occupied(m).
  virtual ACE_INT64 add_slot(ACE_INT64 changer_id, const d2t::Media& m) = 0;
  // Replaces `result` with the changer's slot rows (is_porter as a JSON
  // boolean, no particular order).
  virtual bool get_slots(ACE_INT64 changer_id, json_spirit::Array& result) = 0;
  // The slot row holding this media tag.
  virtual bool get_slot(const std::string& media_tag, json_spirit::Object& result) = 0;
  // The slot row with this number in this changer.
  virtual bool get_slot(ACE_INT64 changer_id, ACE_INT32 slot_number, json_spirit::Object& result) = 0;
  // For the slot `slot` of the changer with serial `changer_serial`:
  // media_id (the slot row id), sg_name (the changer's), media_tag,
  // slot_number, is_porter and occupied. This is the record transfer()
  // takes.
  virtual bool get_slot(const std::string& changer_serial, ACE_INT32 slot, json_spirit::Object& result) = 0;
  // True exactly when the slot exists and its media_tag is NULL.
  virtual bool slot_empty(ACE_INT64 changer_id, ACE_INT32 slot_number) = 0;
  // The number of some slot of the changer whose media_tag is NULL, or -1.
  virtual ACE_INT32 get_empty_slot(ACE_INT64 changer_id) = 0;
  // Stores `media_tag` as text (an empty text stays an empty string).
  virtual bool set_media_tag(ACE_INT64 changer_id, ACE_INT32 slot_number, const std::string& media_tag) = 0;
  // Writes the medium's tag (NULL when empty), porter flag and occupancy
  // (slot_occupied(m)) into its slot.
  virtual bool update_slot(ACE_INT64 changer_id, const d2t::Media& m) = 0;
  // Records that the cartridge of slot record `from` now sits in slot record
  // `to` (records as given by get_slot(changer_serial, slot, ...)): the tag
  // and the occupancy move. All or nothing: on false the inventory is
  // unchanged.
  virtual bool transfer(const json_spirit::Object& from, const json_spirit::Object& to) = 0;
  // Sets the failure count of the drive with this device name.
  virtual bool update_drive_failure(const std::string& dev_name, int val) = 0;
};

#endif
