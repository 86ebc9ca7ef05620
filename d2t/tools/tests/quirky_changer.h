// Test fixture: the emulated library behind a wrapper that gives it the
// quirks of other devices (short buffers, refused options, busy or lost
// answers), set per test in `quirks_`.
#ifndef D2T_TOOLS_TESTS_QUIRKY_CHANGER_H
#define D2T_TOOLS_TESTS_QUIRKY_CHANGER_H

#include <algorithm>
#include <cstring>
#include <deque>

#include "d2t/scsi/bytes.h"
#include "d2t/scsi/cdb.h"
#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace testing {

using d2t::scsi::Command;
using d2t::scsi::Outcome;
using d2t::scsi::Transport;

struct Quirks {
  std::uint32_t max_allocation = 0;  // cut READ ELEMENT STATUS to this
  bool refuse_dvcid = false;
  bool refuse_voltag = false;
  bool old_inquiry = false;            // INQUIRY byte 3 reserved (older command set)
  std::deque<Outcome> move_answers;    // answered before the device
  std::deque<Outcome> unload_answers;  // LOAD UNLOAD, likewise
  int lost_move_answers = 0;           // moves made whose answer is a time-out
  // With DVCID, announce descriptors of 48 bytes (without the identifier)
  // while sending them whole, as some changers do.
  bool short_dvcid_length = false;
  int busy_status_reads = 0;                // MODE SENSE / READ ELEMENT STATUS answered BUSY
  std::deque<Outcome> ready_answers;        // TEST UNIT READY, answered before the device
  std::vector<std::uint8_t> request_sense;  // REQUEST SENSE data, when not empty
  int element_status_requests = 0;
  int moves = 0;
};

// Takes the front answer of `q`, if any.
inline bool pop(std::deque<Outcome>& q, Outcome& o) {
  if (q.empty()) return false;
  o = q.front();
  q.pop_front();
  return true;
}

class Quirky_Transport : public Transport {
 public:
  Quirky_Transport(std::unique_ptr<Transport> inner, Quirks& q) : inner_(std::move(inner)), q_(q) {}
  Outcome execute(const Command& cmd) override {
    std::uint8_t cdb[16];
    std::memcpy(cdb, cmd.cdb, cmd.cdb_len);
    Command c = cmd;
    c.cdb = cdb;
    Outcome o;
    if (cdb[0] == d2t::scsi::OP_INQUIRY && q_.old_inquiry && cdb[3] != 0)
      return check_condition(d2t::scsi::SK_ILLEGAL_REQUEST, 0x24, 0);
    if ((cdb[0] == d2t::scsi::OP_MODE_SENSE_6 || cdb[0] == d2t::scsi::OP_READ_ELEMENT_STATUS) &&
        q_.busy_status_reads > 0) {
      --q_.busy_status_reads;
      return busy();
    }
    if (cdb[0] == d2t::scsi::OP_READ_ELEMENT_STATUS) {
      ++q_.element_status_requests;
      if ((q_.refuse_dvcid && (cdb[6] & 0x01)) || (q_.refuse_voltag && (cdb[1] & 0x10)))
        return check_condition(d2t::scsi::SK_ILLEGAL_REQUEST, 0x24, 0);
      if (q_.short_dvcid_length && (cdb[6] & 0x01)) {
        o = inner_->execute(c);
        if (cmd.data_len - o.resid >= 12) d2t::scsi::put_be16(cmd.data + 10, 12 + 36);
        return o;
      }
      if (q_.max_allocation && d2t::scsi::get_be24(cdb + 7) > q_.max_allocation) {
        d2t::scsi::put_be24(cdb + 7, q_.max_allocation);
        c.data_len = q_.max_allocation;
        o = inner_->execute(c);
        o.resid += cmd.data_len - q_.max_allocation;
        return o;
      }
    }
    if (cdb[0] == d2t::scsi::OP_LOAD_UNLOAD && pop(q_.unload_answers, o)) return o;
    if (cdb[0] == d2t::scsi::OP_TEST_UNIT_READY && pop(q_.ready_answers, o)) return o;
    if (cdb[0] == d2t::scsi::OP_REQUEST_SENSE && !q_.request_sense.empty()) {
      std::size_t n = std::min<std::size_t>(cmd.data_len, q_.request_sense.size());
      std::copy(q_.request_sense.begin(), q_.request_sense.begin() + n, cmd.data);
      o.resid = cmd.data_len - n;
      return o;
    }
    if (cdb[0] == d2t::scsi::OP_MOVE_MEDIUM) {
      ++q_.moves;
      if (q_.lost_move_answers > 0) {
        --q_.lost_move_answers;
        inner_->execute(c);
        return timed_out();
      }
      if (pop(q_.move_answers, o)) return o;
    }
    return inner_->execute(c);
  }

 private:
  std::unique_ptr<Transport> inner_;
  Quirks& q_;
};

class Quirky_Changer : public Emulated_Library {
 protected:
  void SetUp() override {
    Emulated_Library::SetUp();
    install_quirks();
  }
  void install_quirks() {
    wrap([this](std::unique_ptr<Transport> t) {
      return std::unique_ptr<Transport>(new Quirky_Transport(std::move(t), quirks_));
    });
  }
  Quirks quirks_;
};

}  // namespace testing
}  // namespace tools
}  // namespace d2t

#endif
