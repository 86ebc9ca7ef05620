// The tape controller: the one object of the tape service that knows the
// tape libraries (medium changers), their drives and their slots.
//
// It owns the inventory back end (a Tape_Controller_Impl), holds the
// tunables read from media_controller.conf and offers the operations the
// web handlers call: rescan a library, load a cartridge into a drive, unload
// a drive, refresh a library's slot inventory, move a cartridge between two
// slots and look a slot up. There is one controller per process, reached
// through Tape_Controller::instance().
//
// Results, not exceptions: every operation returns bool (or -1 / "") and
// logs the cause of a failure once, through ACE_Log_Msg. Operations that
// report to a web client write a "message" (and for load and unload
// "faulty": true) into the response object they are given; a successful
// load, unload or transfer leaves the response untouched.
//
// Threads: the public operations may be entered from many threads at once.
// Library scans are serialised by scan_lock_ and the storing of a rescanned
// library by store_lock_. Cartridge moves (load, unload, transfer, scan)
// share status_lock_ with each other, so moves on different drives run in
// parallel; reading an element status and writing what it says (refresh,
// update) holds it exclusively, so a status read before a move can never
// overwrite the record that move made. get_slot takes no lock. open(),
// close(), the configuration and the seams are set up before requests
// arrive and are not locked.
#ifndef D2T_CONTROLLER_TAPE_CONTROLLER_H
#define D2T_CONTROLLER_TAPE_CONTROLLER_H

#include <memory>
#include <string>
#include <vector>

#include <ace/Basic_Types.h>
#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include "d2t/controller/controller_clock.h"
#include "d2t/controller/tape_controller_impl.h"
#include "d2t/util/changer.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "json_spirit/json_spirit_value.h"

class Tape_Controller {
 public:
  // Where the configuration lives unless overridden (see config_path()).
  static const char* const CONFIG_TEMPLATE;
  // Environment variable that, when set and not empty, names the
  // configuration file instead of CONFIG_TEMPLATE.
  static const char* const CONFIG_ENV;

  // The process's controller, created with default settings and an empty
  // back end on first use; null with errno ENOMEM when it cannot be
  // allocated.
  static Tape_Controller* instance();
  // Destroys the controller (and with it the back end), if any. A later
  // instance() creates a fresh one with default settings.
  static void close_instance();

  Tape_Controller();
  ~Tape_Controller();
  Tape_Controller(const Tape_Controller&) = delete;
  Tape_Controller& operator=(const Tape_Controller&) = delete;

  // Creates a new database back end (replacing any earlier one) and opens
  // it, reads the configuration and brings the inventory up to date with
  // the hardware (update()). False with errno ENOMEM when the back end
  // cannot be allocated (impl_ unchanged), false when the back end cannot
  // reach the database (impl_ keeps the new back end), false when the
  // devices cannot be listed. Configuration problems never fail open.
  bool open();
  // Calls the back end's close(); impl_ stays.
  void close();

  // Full rediscovery of the library with `serial_number`. `changers` (empty
  // on entry) receives one entry per listed library, in listing order;
  // every entry but the scanned and stored library is null. True also when
  // no library matched or the scan or store failed (those entries null);
  // false only without a back end or when the devices cannot be listed.
  bool rescan(const std::string& serial_number, std::vector<d2t::Changer_var>& changers);

  // Loads the cartridge `request["media_tag"]` into the drive
  // `request["serial_number"]`, unloading the drive first when the
  // inventory shows a cartridge in it. On failure `result` holds "message"
  // and, when the drive is to be taken as faulty, "faulty": true.
  bool load(const json_spirit::Object& request, json_spirit::Object& result);

  // Sends the cartridge in drive `request["serial_number"]` back to its
  // home slot and records the drive empty. Failure keys as for load (some
  // failures leave `result` empty).
  bool unload(const json_spirit::Object& request, json_spirit::Object& result);

  // Re-reads the element status of the library `serial_number`, brings the
  // inventory's slot rows and the drives' stored slots in line with it and
  // fills `result` with the library's own keys plus "drives" and "slots".
  // On failure `result` stays empty (the cause is logged).
  bool refresh(const std::string& serial_number, json_spirit::Object& result);

  // Moves the cartridge of slot row `from` into slot row `to` (rows as
  // get_slot gives them) and records the move. A failed move touches
  // nothing; a failed record moves the cartridge back. False in both cases.
  bool transfer(const json_spirit::Object& from, const json_spirit::Object& to);

  // The slot `slot_number` of the library `serial_number`: "media_id",
  // "sg_name", "media_tag", "slot_number", "is_porter". False (result
  // unchanged) when there is no such slot or no back end.
  bool get_slot(const std::string& serial_number, ACE_INT32 slot_number,
                json_spirit::Object& result);

  // Tunables (media_controller.conf keys "max_wait_seconds",
  // "load_unload_retries", "drive_faulty_threshold").
  int max_wait_seconds() const { return max_wait_seconds_; }
  int load_unload_retries() const { return load_unload_retries_; }
  int faulty_threshold() const { return faulty_threshold_; }

  // Seams for tests and tools, set before open() / before requests arrive.
  // config_path(p): read the configuration from `p` instead of the default
  // location ("" restores the default). The environment variable
  // CONFIG_ENV does the same for a whole process.
  void config_path(const std::string& path) { config_path_ = path; }
  // clock(c): the clock used by scans and type detection; null restores
  // the system clock.
  void clock(std::shared_ptr<Controller_Clock> c);
  // The back end, for inspection; null before open().
  Tape_Controller_Impl* impl() const { return impl_.get(); }

 protected:
  // Reads the configuration file into the three tunables; always true.
  bool load_config();
  // The configuration file's path: config_path_, else CONFIG_ENV, else
  // CONFIG_TEMPLATE expanded.
  std::string config_file() const;

  // Discovery (light level): device names and slots of known libraries.
  bool update();
  bool update_device_name(std::vector<d2t::Changer_var>& changers,
                          std::vector<d2t::Drive_var>& drives);
  // Inventory id of the changer with this serial number, or -1.
  ACE_INT64 get_changer_id(const std::string& serial_number);
  // Stored tape device name of a drive; "" when unknown.
  std::string get_drive_name(ACE_INT64 changer_id, ACE_INT32 drive_number) const;
  // Times one load plus unload and sets changer.type() ("virtual" up to
  // TYPE_DETECT_TIME_THD_IN_MS, else "physical"); the inventory is not
  // written. Uses the first empty drive whose tape device is stored and
  // the first occupied slot that holds no cleaning cartridge (neither
  // MST_CLEAN nor a cleaning tag). False, nothing moved, when there is no
  // such drive or slot; false when the load or the unload fails (logged).
  bool detect_changer_type(ACE_INT64 changer_id, d2t::Changer& changer);
  // Replaces the inventory rows of the library with the scanned record.
  bool add_tape_library(d2t::Changer_var& changer);

  // Library scan (holds scan_lock_).
  bool scan_tapelib(d2t::Changer& changer, std::vector<d2t::Drive_var>& drives);
  bool detect_drives(d2t::Changer& changer, std::vector<d2t::Drive_var>& drives);
  bool scan_all_media(d2t::Changer& changer);

  // Deletes inventory libraries that have no drive row left.
  bool remove_unavailable();

  // Fills `device` for the request's drive with live device names and
  // empties the drive; true when the drive can receive a cartridge.
  bool pre_load(const json_spirit::Object& request, json_spirit::Object& device);

  // Reconciles the drives' stored slots and the slot rows of changer
  // `changer_id` with the element status held in `changer`. False only
  // without a back end or when the slot rows cannot be read.
  bool update_slots(ACE_INT64 changer_id, d2t::Changer& changer);

 private:
  std::unique_ptr<Tape_Controller_Impl> impl_;
  int max_wait_seconds_;
  int load_unload_retries_;
  int faulty_threshold_;
  // Serialises library scans (cartridge moves of detection).
  ACE_Thread_Mutex scan_lock_;
  // Serialises storing a rescanned library and removing drive-less ones,
  // so that two rescans never interleave their inventory writes.
  ACE_Thread_Mutex store_lock_;
  // Shared by cartridge moves and the records they make; exclusive for an
  // element-status read and the inventory writes that follow from it.
  ACE_RW_Thread_Mutex status_lock_;
  std::string config_path_;
  std::shared_ptr<Controller_Clock> clock_;
};

// True when `changer` is not null and has this serial number.
bool match_changer(d2t::Changer_var changer, const std::string& serial_number);
// True when `drive` is not null and has this serial number.
bool match_drive(d2t::Drive_var drive, const std::string& serial_number);

#endif
