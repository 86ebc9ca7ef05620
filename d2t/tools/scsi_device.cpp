#include "d2t/tools/scsi_device.h"

#include <cerrno>

#include "d2t/tools/provider.h"
#include "d2t/util/common.h"

namespace d2t {
namespace tools {

using d2t::scsi::Result;

std::unique_ptr<Scsi_Device> Scsi_Device::open(const std::string& name, std::string* error) {
  if (name.empty()) {
    if (error) *error = "no device name";
    return nullptr;
  }
  std::shared_ptr<d2t::scsi::Device_Provider> provider = device_provider(error);
  if (!provider) return nullptr;
  std::unique_ptr<d2t::scsi::Transport> t = provider->open(name, error);
  if (!t) return nullptr;
  return std::unique_ptr<Scsi_Device>(new Scsi_Device(std::move(t)));
}

Result Scsi_Device::run(const d2t::scsi::Cdb& cdb, unsigned timeout_ms) {
  d2t::scsi::Command c;
  c.cdb = cdb.bytes;
  c.cdb_len = cdb.len;
  c.direction = d2t::scsi::Direction::NONE;
  c.timeout_ms = timeout_ms;
  return d2t::scsi::classify(execute(c));
}

d2t::scsi::Outcome Scsi_Device::execute(const d2t::scsi::Command& cmd) {
  d2t::scsi::Outcome o = transport_->execute(cmd);
  if (o.os_errno != 0 || o.host_status != 0 || o.status != d2t::scsi::STATUS_CHECK_CONDITION ||
      !o.sense.empty())
    return o;
  // CHECK CONDITION without sense data (no autosense): ask for it.
  std::uint8_t sense[252] = {};
  d2t::scsi::Cdb cdb = d2t::scsi::request_sense_cdb(sizeof sense);
  d2t::scsi::Command rs;
  rs.cdb = cdb.bytes;
  rs.cdb_len = cdb.len;
  rs.direction = d2t::scsi::Direction::FROM_DEVICE;
  rs.data = sense;
  rs.data_len = sizeof sense;
  rs.timeout_ms = TIMEOUT_QUICK_MS;
  d2t::scsi::Outcome s = transport_->execute(rs);
  if (s.os_errno == 0 && s.host_status == 0 && s.status == d2t::scsi::STATUS_GOOD &&
      s.resid < sizeof sense)
    o.sense.assign(sense, sense + (sizeof sense - s.resid));
  return o;
}

Result Scsi_Device::read(const d2t::scsi::Cdb& cdb, std::uint8_t* buf, std::size_t len,
                         std::size_t& received, unsigned timeout_ms) {
  d2t::scsi::Command c;
  c.cdb = cdb.bytes;
  c.cdb_len = cdb.len;
  c.direction = d2t::scsi::Direction::FROM_DEVICE;
  c.data = buf;
  c.data_len = len;
  c.timeout_ms = timeout_ms;
  d2t::scsi::Outcome o = execute(c);
  received = o.resid < len ? len - o.resid : 0;
  return d2t::scsi::classify(o);
}

namespace {
template <typename Fn>
Result once_more_after_attention(Fn fn) {
  Result r = fn();
  if (r.is_sense(d2t::scsi::SK_UNIT_ATTENTION)) r = fn();
  return r;
}
}  // namespace

Result inquiry(Scsi_Device& dev, d2t::scsi::Inquiry_Data& out) {
  return once_more_after_attention([&] {
    std::uint8_t buf[96] = {};
    std::size_t got = 0;
    Result r = dev.read(d2t::scsi::inquiry_cdb(false, 0, sizeof buf), buf, sizeof buf, got,
                        TIMEOUT_QUICK_MS);
    if (r.ok() && !d2t::scsi::parse_inquiry(buf, got, out)) {
      r.failure = d2t::scsi::Failure::STATUS;
    }
    return r;
  });
}

Result unit_serial(Scsi_Device& dev, std::string& serial) {
  return once_more_after_attention([&] {
    // 255 at most: a device of the older command set reads byte 3 of the
    // CDB as reserved and only byte 4 as the allocation length, so 256
    // would ask it for nothing (or be refused as an invalid field).
    std::uint8_t buf[255] = {};
    std::size_t got = 0;
    Result r = dev.read(d2t::scsi::inquiry_cdb(true, d2t::scsi::VPD_UNIT_SERIAL, sizeof buf), buf,
                        sizeof buf, got, TIMEOUT_QUICK_MS);
    if (r.ok() && !d2t::scsi::parse_unit_serial(buf, got, serial)) {
      r.failure = d2t::scsi::Failure::STATUS;
    }
    return r;
  });
}

bool retriable(const Result& r) {
  using namespace d2t::scsi;
  switch (r.failure) {
    case Failure::TRANSPORT:
      return true;
    case Failure::STATUS:
      return r.status == STATUS_BUSY || r.status == STATUS_TASK_SET_FULL;
    case Failure::SENSE:
      if (r.sense.key == SK_UNIT_ATTENTION) return true;
      return r.sense.key == SK_NOT_READY && r.sense.asc == 0x04 && r.sense.ascq != 0x02;
    default:
      return false;
  }
}

Blame blame_of(const Result& r, bool move) {
  using namespace d2t::scsi;
  if (r.is_sense(SK_HARDWARE_ERROR)) return Blame::FAULTY;
  if (move && (r.is_sense(SK_ILLEGAL_REQUEST, 0x3B, 0x0E) || r.is_sense(SK_ILLEGAL_REQUEST, 0x3B, 0x0D) ||
               r.is_sense(SK_ILLEGAL_REQUEST, 0x21, 0x01)))
    return Blame::NONE;
  return Blame::COUNT;
}

Result with_retries(int retries, const std::function<Result()>& op) {
  Result r = op();
  int attentions = 0;
  while (!r.ok() && retriable(r)) {
    // A unit attention only reports an event (reset, door closed, medium
    // changed): the command was not run. Repeat it at once, without
    // spending a retry, so that a library reset does not fail a move
    // made with no retries.
    if (r.is_sense(d2t::scsi::SK_UNIT_ATTENTION) && attentions < UNIT_ATTENTION_REPEATS) {
      ++attentions;
      r = op();
      continue;
    }
    if (retries-- <= 0) break;
    if (!r.is_sense(d2t::scsi::SK_UNIT_ATTENTION))
      clock()->sleep_ms(LOAD_UNLOAD_RETRY_INTERVAL * 1000);
    r = op();
  }
  return r;
}

}  // namespace tools
}  // namespace d2t
