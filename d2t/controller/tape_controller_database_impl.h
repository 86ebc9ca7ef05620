// The inventory kept in the SQL database "media_controller" (tables changer,
// drive and slot; see media_controller_metadata.h).
//
// Stateless but for this host's id: every operation builds its statements,
// takes its own connection from the SQL layer and drops it before
// returning, so one object serves any number of threads. It holds no lock;
// the SQL layer serialises writers.
//
// Several hosts may share the inventory. Drive rows carry the id of the
// host whose devices their sg_name and dev_name are (column host_id); the
// operations that name a drive by its device name, and reset(), touch only
// this host's rows, since another host may use the same device names for
// other drives. add_drive() records this host unless `data` names one.
//
// Failures are logged once here, through ACE_Log_Msg at LM_ERROR:
//   - no connection: "Failed to connect to database 'media_controller' at
//     <file>:<line>" and the operation's failure value (false or -1);
//     get_changer_type logs "Failed to connect to database
//     'media_controller'" and gives an empty type text;
//   - a refused insert: "Failed to add changer|drive|slot" and -1;
//   - a transaction that cannot begin (reset, transfer): "Failed to begin
//     transaction at <file>:<line>";
//   - a malformed transfer record: "Transfer object exception: <reason>.".
// Lookups that find nothing and failed updates are not logged: the caller
// decides what to report. Single-row reads replace the output object only
// on success.
#ifndef D2T_CONTROLLER_TAPE_CONTROLLER_DATABASE_IMPL_H
#define D2T_CONTROLLER_TAPE_CONTROLLER_DATABASE_IMPL_H

#include "d2t/controller/tape_controller_impl.h"

class Tape_Controller_Database_Impl : public Tape_Controller_Impl {
 public:
  // `host_id`: this host's id in drive rows ("" for an inventory that
  // only ever has one host, the tests' default).
  explicit Tape_Controller_Database_Impl(const std::string& host_id = std::string())
      : host_id_(host_id) {}
  virtual ~Tape_Controller_Database_Impl() {}

  // True when a connection to "media_controller" can be taken (this also
  // creates or upgrades the schema); the connection is dropped again.
  // Drive rows written before hosts were recorded (host_id '') become this
  // host's when no other host has rows: they can only be its own.
  bool open() override;
  void close() override;

  bool reset() override;
  bool clear(const std::string& serial_number) override;

  bool get_tape_device(const std::string& serial_number, json_spirit::Object& device) override;

  ACE_INT64 add_changer(const json_spirit::Object& data) override;
  bool get_changer(const std::string& serial_number, json_spirit::Object& result) override;
  bool set_changer_name(ACE_INT64 id, const std::string& sg_name) override;
  const std::string get_changer_type(ACE_INT64 id) override;
  bool set_changer_type(ACE_INT64 id, const std::string& type) override;

  ACE_INT64 add_drive(const json_spirit::Object& data) override;
  bool get_drive(const std::string& serial_number, json_spirit::Object& result) override;
  bool get_drive(ACE_INT64 changer_id, ACE_INT32 drive_number,
                 json_spirit::Object& result) override;
  bool set_drive_slot(const std::string& dev_name, const json_spirit::Value& data) override;
  bool set_drive_slot(const std::string& serial_number, ACE_INT64 slot_number) override;
  bool set_drive_name(ACE_INT64 id, const std::string& sg_name,
                      const std::string& dev_name) override;

  ACE_INT64 add_slot(const json_spirit::Object& data) override;
  ACE_INT64 add_slot(ACE_INT64 changer_id, const d2t::Media& m) override;
  // Also true with an empty array for a changer without slot rows.
  bool get_slots(ACE_INT64 changer_id, json_spirit::Array& result) override;
  bool get_slot(const std::string& media_tag, json_spirit::Object& result) override;
  bool get_slot(ACE_INT64 changer_id, ACE_INT32 slot_number, json_spirit::Object& result) override;
  bool get_slot(const std::string& changer_serial, ACE_INT32 slot,
                json_spirit::Object& result) override;
  bool slot_empty(ACE_INT64 changer_id, ACE_INT32 slot_number) override;
  ACE_INT32 get_empty_slot(ACE_INT64 changer_id) override;
  bool set_media_tag(ACE_INT64 changer_id, ACE_INT32 slot_number,
                     const std::string& media_tag) override;
  bool update_slot(ACE_INT64 changer_id, const d2t::Media& m) override;
  // Both slot rows must exist: when either update changes no row (a row
  // deleted or replaced since it was read), nothing is changed and the
  // result is false, so the cartridge is never recorded in no slot.
  bool transfer(const json_spirit::Object& from, const json_spirit::Object& to) override;
  bool update_drive_failure(const std::string& dev_name, int val) override;

  const std::string& host_id() const { return host_id_; }

 private:
  const std::string host_id_;
};

#endif
