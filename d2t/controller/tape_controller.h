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
// The controller owns their concurrency: each operation enters the queue of
// its library in the controller's Library_Scheduler (library_scheduler.h)
// before it reads or moves anything, so callers take no locks of their
// own. On one library, rescan, refresh and transfer run alone, loads and
// unloads of different drives run together, and waiting operations start
// in arrival order; libraries never wait for each other (except that two
// rescans identify their drives one at a time, see detection_lock_). A
// load or unload finds its drive's library in the inventory itself.
// get_slot takes no place in a queue. The configuration may be re-read
// while requests run (reload_config); the seams are set before requests
// arrive.
//
// Turned away unstarted (see Library_Scheduler): an operation still
// waiting when the service stops (stop_queues), one that waited longer
// than "queue_timeout_seconds", one that arrives while its library has
// "max_queued_operations" waiting, and one whose client hung up before it
// started. A rescan or refresh that finds an identical one waiting joins
// it and gets the same answer. The operations take an optional
// Queue_Request through which a web request passes its client's check and
// learns why its operation was turned away.
//
// Lifetime: the process's controller is shared. A caller that uses it for
// a while (a web request) holds it through acquire(); close_instance()
// drops only the process's own reference, so a controller in use is never
// freed under its users, and instance() / install() take such a live
// controller back instead of making a second one.
#ifndef D2T_CONTROLLER_TAPE_CONTROLLER_H
#define D2T_CONTROLLER_TAPE_CONTROLLER_H

#include <ace/Basic_Types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "d2t/controller/controller_clock.h"
#include "d2t/controller/drive_reservations.h"
#include "d2t/controller/library_scheduler.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/tape_controller_impl.h"
#include "d2t/util/changer.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "json_spirit/json_spirit_value.h"

// What a web request brings to the operation it asks for, and what it
// learns back when the operation was turned away unstarted.
struct Queue_Request {
  // False once the request's client has gone away; null: always wanted.
  std::function<bool()> still_wanted;
  // Out: why the operation was turned away (NONE when it ran, or failed
  // on its own), the library and what the operation was (for a drive
  // request, the cartridge when the inventory names one).
  Queue_Refusal refused = Queue_Refusal::NONE;
  std::string library;
  Library_Operation operation;
};

class Tape_Controller {
 public:
  // Where the configuration lives unless overridden (see config_path()).
  static const char* const CONFIG_TEMPLATE;
  // Environment variable that, when set and not empty, names the
  // configuration file instead of CONFIG_TEMPLATE.
  static const char* const CONFIG_ENV;

  // The process's controller: the current one, else a controller that
  // callers still hold after close_instance() (taken back as the current
  // one), else a new one with default settings and no back end. Null with
  // errno ENOMEM when it cannot be allocated.
  static std::shared_ptr<Tape_Controller> install();
  // install().get(), for callers that do not outlive the process's
  // reference (the service, tools, tests).
  static Tape_Controller* instance();
  // A reference for the length of a request: the current controller, else
  // one still held by other callers; null when there is none. Never
  // creates one.
  static std::shared_ptr<Tape_Controller> acquire();
  // Drops the process's reference. The controller (and its back end) is
  // destroyed now when nobody holds it, else when its last holder lets
  // go. A later instance() takes a live one back or creates a fresh one.
  static void close_instance();

  Tape_Controller();
  ~Tape_Controller();
  Tape_Controller(const Tape_Controller&) = delete;
  Tape_Controller& operator=(const Tape_Controller&) = delete;

  // Creates the database back end unless there is one (it is stateless and
  // is never replaced, since requests may be using it) and opens it, reads
  // the configuration and brings the inventory up to date with the
  // hardware (update()). False with errno ENOMEM when the back end cannot
  // be allocated, false when the back end cannot reach the database, false
  // when the devices cannot be listed. Configuration problems never fail
  // open. opened() is true after an open() that succeeded.
  bool open();
  bool opened() const { return opened_.load(); }
  // Re-reads media_controller.conf while requests may be running (a reload
  // of the service); always true.
  bool reload_config() { return load_config(); }
  // Calls the back end's close(); impl_ stays.
  void close();

  // For a real stop of the service (Tape_Controller_Service::stopping),
  // never for a reload: every
  // operation waiting in a library's queue, and every later one, is turned
  // away ("Service is stopping") without touching a device; operations
  // already running finish and are recorded. A controller taken back by
  // install() accepts operations again.
  void stop_queues() { scheduler_.stop(); }

  // Full rediscovery of the library with `serial_number`. `changers` (empty
  // on entry) receives one entry per listed library, in listing order;
  // every entry but the scanned and stored library is null. True also when
  // no library matched or the scan or store failed (those entries null);
  // false only without a back end or when the devices cannot be listed.
  // False also when the rescan was turned away (`queue`, when given, says
  // why).
  bool rescan(const std::string& serial_number, std::vector<d2t::Changer_var>& changers,
              Queue_Request* queue = nullptr);

  // Loads the cartridge `request["media_tag"]` into the drive
  // `request["serial_number"]`, unloading the drive first when the
  // inventory shows a cartridge in it. Before anything moves it checks
  // that the drive's library knows the cartridge ("Failed to find media to
  // load" otherwise) and that no other drive holds it ("Media is loaded in
  // another drive", the log names that drive; no failure is counted). On
  // failure `result` holds "message" and, when the drive is to be taken as
  // faulty, "faulty": true. Only failures that are the drive's own count
  // against it (d2t::tools::Blame). Turned away: "message" is the
  // refusal's text (queue_refusal_message) and `queue` says why.
  bool load(const json_spirit::Object& request, json_spirit::Object& result,
            Queue_Request* queue = nullptr);

  // Sends the cartridge in drive `request["serial_number"]` back to its
  // home slot and records the drive empty. Failure keys as for load (some
  // failures leave `result` empty; turned away as for load).
  bool unload(const json_spirit::Object& request, json_spirit::Object& result,
              Queue_Request* queue = nullptr);

  // Re-reads the element status of the library `serial_number`, brings the
  // inventory's slot rows and the drives' stored slots in line with it and
  // fills `result` with the library's own keys plus "drives" and "slots".
  // On failure `result` stays empty (the cause is logged, or `queue` says
  // why it was turned away).
  bool refresh(const std::string& serial_number, json_spirit::Object& result,
               Queue_Request* queue = nullptr);
  // The same, leaving the refreshed library record (drives and slots as the
  // changer reported them) in `refreshed`, for replies written piece by
  // piece (refresh_status.h gives the shape); unchanged on failure.
  bool refresh(const std::string& serial_number, d2t::Changer& refreshed,
               Queue_Request* queue = nullptr);

  // Moves the cartridge of slot row `from` into slot row `to` (rows as
  // get_slot gives them; the library is the one whose changer device the
  // source row names) and records the move. A failed move touches
  // nothing; a failed record moves the cartridge back. False in both cases.
  bool transfer(const json_spirit::Object& from, const json_spirit::Object& to);

  // A checked transfer of the cartridge `media_tag` from slot `from` to
  // slot `to` of library `serial_number`: the slot checks and the move run
  // as one operation of that library, so no other move can come between
  // them. `source` and `target` receive the slot rows as read (target's
  // as it was before the move) as far as they were found.
  enum Transfer_Status {
    TRANSFER_DONE,
    TRANSFER_NO_SOURCE,    // no slot `from` in the library
    TRANSFER_NO_TARGET,    // no slot `to`
    TRANSFER_TARGET_FULL,  // the inventory has a cartridge in `to`
    TRANSFER_MISMATCH,     // `from` holds no cartridge or another one
    TRANSFER_MOVE_FAILED,  // the move or its record failed (logged)
    TRANSFER_TURNED_AWAY   // not started; `queue` (when given) says why
  };
  Transfer_Status transfer_media(const std::string& serial_number, ACE_INT32 from, ACE_INT32 to,
                                 const std::string& media_tag, json_spirit::Object& source,
                                 json_spirit::Object& target, Queue_Request* queue = nullptr);

  // The libraries with running or queued operations now (see
  // Library_Scheduler::snapshot for the shape). Never waits for a robot.
  json_spirit::Array operations() const { return scheduler_.snapshot(); }

  // The slot `slot_number` of the library `serial_number`: "media_id",
  // "sg_name", "media_tag", "slot_number", "is_porter". False (result
  // unchanged) when there is no such slot or no back end.
  bool get_slot(const std::string& serial_number, ACE_INT32 slot_number,
                json_spirit::Object& result);

  // Tunables (media_controller.conf keys "max_wait_seconds",
  // "load_unload_retries", "drive_faulty_threshold"; "queue_timeout_seconds"
  // and "max_queued_operations" go to the scheduler).
  int max_wait_seconds() const { return max_wait_seconds_.load(); }
  int load_unload_retries() const { return load_unload_retries_.load(); }
  int faulty_threshold() const { return faulty_threshold_.load(); }

  // Seams for tests and tools, set before open() / before requests arrive.
  // config_path(p): read the configuration from `p` instead of the default
  // location ("" restores the default). The environment variable
  // CONFIG_ENV does the same for a whole process.
  void config_path(const std::string& path) { config_path_ = path; }
  // clock(c): the clock used by scans and type detection; null restores
  // the system clock.
  void clock(std::shared_ptr<Controller_Clock> c);
  // operations_clock(c): the clock of the operations snapshot; null
  // restores the system clock.
  void operations_clock(std::shared_ptr<Controller_Clock> c) { scheduler_.clock(std::move(c)); }
  // The scheduler, for tests that watch the order of operations.
  Library_Scheduler& scheduler() { return scheduler_; }
  // The back end, for inspection; null before open().
  Tape_Controller_Impl* impl() const { return impl_.get(); }
  // host_id(id): the id this host records on its drive rows of a shared
  // inventory; set before open() ("" until then means
  // Host_Manager::host_id(), read by open()).
  void host_id(const std::string& id) { host_id_ = id; }
  const std::string& host_id() const { return host_id_; }

 protected:
  // Reads the configuration file into the tunables and the scheduler's
  // limits; always true.
  bool load_config();
  // Takes `turn` (ticket, then lease) of `operation` on `library` for the
  // caller `queue` describes (null: a caller that always wants it),
  // joining an identical waiting operation when `may_join`. True when
  // held. False when it was turned away (`queue` learns why and what it
  // was), when it joined another (turn.ticket().joined()), or when the
  // lease could not be taken (logged here).
  bool enter_turn(Library_Turn& turn, const std::string& library,
                  const Library_Operation& operation, Queue_Request* queue, bool may_join = false);
  // The configuration file's path: config_path_, else CONFIG_ENV, else
  // CONFIG_TEMPLATE expanded.
  std::string config_file() const;

  // Discovery (light level): device names and slots of known libraries.
  // The slots of each library are read and stored as a refresh of that
  // library (in its queue).
  bool update();
  // Stores the listed devices' names in one database transaction: every
  // stored name of this host is cleared and the present devices' names set
  // again, so a
  // concurrent update of a failure count or a drive's slot (made by device
  // name) sees either the old or the new names, never none. Sets the
  // records' ids. False when the transaction fails (nothing changed).
  bool update_device_name(std::vector<d2t::Changer_var>& changers,
                          std::vector<d2t::Drive_var>& drives);
  // Lists the devices and stores their names (update_device_name); no
  // library is read, so it waits for no library.
  bool rediscover_names();
  // Inventory id of the changer with this serial number, or -1.
  ACE_INT64 get_changer_id(const std::string& serial_number);
  // Stored tape device name of a drive of this host; "" when unknown or
  // when the drive is another host's.
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

  // Deletes inventory libraries that have no drive row left: `own` (whose
  // queue the caller holds) at once, any other only when nothing runs or
  // waits on it (it is never deleted in the middle of its own rescan).
  bool remove_unavailable(const std::string& own);

  // The inventory record of drive `serial` (get_tape_device) with device
  // names, rediscovered when the stored ones were cleared. `verb` ("load"
  // or "unload") names the operation in the log. False (logged) when the
  // drive or its names cannot be found.
  bool find_drive(const std::string& serial, const char* verb, json_spirit::Object& device);
  // Takes the turn (enter_turn) of `operation` on drive `serial`, whose
  // record `device` was read before (find_drive), then the drive's use
  // (drive_reservations_), and reads the drive again after the wait: its
  // inventory record into `device`, with the changer's and the drive's
  // device names as the host lists them now (stored when they changed).
  // When the record now names another library, turn and use are given
  // back and that library's queue is waited for instead (twice at most).
  // HELD, or nothing held and: NOT_ENTERED when turned away (turn.ticket()
  // says why) or when the lease cannot be taken (logged); DRIVE_LOST when
  // the drive is gone from the inventory, attached elsewhere, not listed,
  // or keeps changing library (logged).
  enum Drive_Turn { HELD, NOT_ENTERED, DRIVE_LOST };
  Drive_Turn enter_drive_turn(Library_Turn& turn, Drive_Reservations::Hold& use,
                              const std::string& serial, Library_Operation operation,
                              Queue_Request* queue, json_spirit::Object& device);
  // In the drive's turn (enter_drive_turn): empties the drive; true when
  // the drive can receive a cartridge.
  bool pre_load(const json_spirit::Object& request, json_spirit::Object& device);
  // In the drive's queue: the unload of drive `serial` described by
  // `device` (get_tape_device).
  bool unload_drive(const std::string& serial, json_spirit::Object& device,
                    json_spirit::Object& result);
  // A drive whose stored slot may be wrong: a move on it succeeded but its
  // result could not be stored (tape_controller_suspect.cpp).
  void mark_suspect(const std::string& serial);
  // In the drive's queue, before a load or unload decides anything: when
  // drive `serial` is marked, reads its element from the changer, stores
  // what it holds and re-reads `device` (get_tape_device; its device names
  // kept); the mark goes once that is stored. Nothing for an unmarked drive.
  void recheck_suspect(const std::string& serial, json_spirit::Object& device);
  // After a refresh stored, from the changer's element status, what the
  // elements `elements` of changer `changer_id` hold: their drives are no
  // longer marked.
  void clear_suspects(ACE_INT64 changer_id, const std::set<int>& elements);
  // In the library's queue: the move of transfer() and its record.
  bool move_between_slots(const json_spirit::Object& from, const json_spirit::Object& to);

  // Reconciles the drives' stored slots and the slot rows of changer
  // `changer_id` with the element status held in `changer`. False only
  // without a back end or when the slot rows cannot be read.
  bool update_slots(ACE_INT64 changer_id, d2t::Changer& changer);

 private:
  std::unique_ptr<Tape_Controller_Impl> impl_;
  std::atomic<bool> opened_{false};
  // Tunables; re-read by a reload while operations use them.
  std::atomic<int> max_wait_seconds_;
  std::atomic<int> load_unload_retries_;
  std::atomic<int> faulty_threshold_;
  // Who works on which library when.
  Library_Scheduler scheduler_;
  // A scan identifies a drive by loading a cartridge and watching which
  // host drive becomes ready; a drive of another library that a second
  // scan loads at the same moment would be taken for it. Held only by the
  // identification step of a rescan.
  std::mutex detection_lock_;
  // The candidates of that identification, reserved against every load,
  // unload and type-detection mount of any library (drive_reservations.h).
  Drive_Reservations drive_reservations_;
  std::mutex suspect_lock_;
  std::set<std::string> suspect_drives_;  // by drive serial
  std::string config_path_;
  std::shared_ptr<Controller_Clock> clock_;
  // Written by open() before any operation, read-only afterwards.
  std::string host_id_;
};

// True when `changer` is not null and has this serial number.
bool match_changer(d2t::Changer_var changer, const std::string& serial_number);
// True when `drive` is not null and has this serial number.
bool match_drive(d2t::Drive_var drive, const std::string& serial_number);

#endif
