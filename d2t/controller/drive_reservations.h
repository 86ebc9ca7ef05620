// Drives held across libraries while a scan identifies drive elements by
// loading them.
//
// A scan that loads a cartridge into an unidentified element and watches
// the candidate host drives for the one that becomes ready must be the only
// thing that makes a candidate ready: a client's load into a candidate
// (even one that belongs to another library's queue) would be taken for the
// element. So the scan reserves its candidates, by serial number, and every
// load, unload and type-detection mount first takes a use of its drive:
//   - a use waits while its drive is reserved or a reservation of it waits;
//   - a reservation waits until none of its drives is in use, and from the
//     moment it waits no new use of its drives starts (a stream of loads
//     cannot starve the scan);
//   - drives that are not reserved are never waited for.
// A use of one drive never waits for another drive, and a reservation
// holds no library queue of another library, so no cycle can form: the
// holders of uses finish their moves without the scan.
//
// Thread-safe. Holds are RAII and move-only.
#ifndef D2T_CONTROLLER_DRIVE_RESERVATIONS_H
#define D2T_CONTROLLER_DRIVE_RESERVATIONS_H

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class Drive_Reservations {
 public:
  class Hold {
   public:
    Hold() = default;
    ~Hold() { release(); }
    Hold(Hold&& other) noexcept;
    Hold& operator=(Hold&& other) noexcept;
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    void release();

   private:
    friend class Drive_Reservations;
    Hold(Drive_Reservations* owner, std::vector<std::string> serials, bool reservation)
        : owner_(owner), serials_(std::move(serials)), reservation_(reservation) {}
    Drive_Reservations* owner_ = nullptr;
    std::vector<std::string> serials_;
    bool reservation_ = false;
  };

  Drive_Reservations() = default;
  Drive_Reservations(const Drive_Reservations&) = delete;
  Drive_Reservations& operator=(const Drive_Reservations&) = delete;

  // Waits until drive `serial` is neither reserved nor waited for by a
  // reservation, then holds a use of it. An empty serial is never waited
  // for.
  Hold use(const std::string& serial);
  // Holds back new uses of `serials`, waits until none is in use or
  // reserved by another reservation, then holds them reserved.
  Hold reserve(std::vector<std::string> serials);
  // Whether `serial` is reserved now, and whether a new use of it would
  // wait now (reserved, or a reservation waits for it) (tests,
  // diagnostics).
  bool reserved(const std::string& serial) const;
  bool held_back(const std::string& serial) const;

 private:
  struct State {
    int uses = 0;
    int pending = 0;  // reservations waiting for it
    bool reserved = false;
    bool idle() const { return uses == 0 && pending == 0 && !reserved; }
  };
  void release(const std::vector<std::string>& serials, bool reservation);
  void forget_idle(const std::string& serial);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, State> drives_;  // only drives with a hold or a waiter
};

#endif
