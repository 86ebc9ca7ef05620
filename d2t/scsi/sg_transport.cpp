#include "d2t/scsi/sg_transport.h"

#include <scsi/sg_pt.h>

#include <cerrno>
#include <cstring>

namespace d2t {
namespace scsi {

namespace {

const int SENSE_BUFFER_LEN = 64;
const int HOST_TIMED_OUT = 0x03;  // DID_TIME_OUT

struct Pt_Object_Deleter {
  void operator()(sg_pt_base* p) const { destruct_scsi_pt_obj(p); }
};

class Sg_Transport : public Transport {
 public:
  explicit Sg_Transport(int fd) : fd_(fd) {}
  ~Sg_Transport() override { scsi_pt_close_device(fd_); }
  Sg_Transport(const Sg_Transport&) = delete;
  Sg_Transport& operator=(const Sg_Transport&) = delete;

  Outcome execute(const Command& cmd) override {
    Outcome o;
    std::unique_ptr<sg_pt_base, Pt_Object_Deleter> pt(construct_scsi_pt_obj());
    if (!pt) {
      o.os_errno = ENOMEM;
      return o;
    }
    std::uint8_t sense[SENSE_BUFFER_LEN] = {};
    set_scsi_pt_cdb(pt.get(), cmd.cdb, static_cast<int>(cmd.cdb_len));
    set_scsi_pt_sense(pt.get(), sense, sizeof sense);
    if (cmd.direction == Direction::FROM_DEVICE && cmd.data_len > 0)
      set_scsi_pt_data_in(pt.get(), cmd.data, static_cast<int>(cmd.data_len));
    else if (cmd.direction == Direction::TO_DEVICE && cmd.data_len > 0)
      set_scsi_pt_data_out(pt.get(), cmd.data, static_cast<int>(cmd.data_len));
    int timeout_secs = static_cast<int>((cmd.timeout_ms + 999) / 1000);
    if (timeout_secs < 1) timeout_secs = 1;
    int rc = do_scsi_pt(pt.get(), fd_, timeout_secs, 0);
    if (rc < 0) {
      o.os_errno = -rc;
      return o;
    }
    if (rc == SCSI_PT_DO_TIMEOUT) {
      o.host_status = HOST_TIMED_OUT;
      return o;
    }
    if (rc != 0) {
      o.os_errno = EINVAL;
      return o;
    }
    int resid = get_scsi_pt_resid(pt.get());
    o.resid = resid > 0 ? static_cast<std::size_t>(resid) : 0;
    switch (get_scsi_pt_result_category(pt.get())) {
      case SCSI_PT_RESULT_OS_ERR:
        o.os_errno = get_scsi_pt_os_err(pt.get());
        if (o.os_errno == 0) o.os_errno = EIO;
        return o;
      case SCSI_PT_RESULT_TRANSPORT_ERR:
        o.host_status = get_scsi_pt_transport_err(pt.get());
        if (o.host_status == 0) o.host_status = 1;
        return o;
      default:
        break;
    }
    o.status = static_cast<std::uint8_t>(get_scsi_pt_status_response(pt.get()));
    int sense_len = get_scsi_pt_sense_len(pt.get());
    if (sense_len > SENSE_BUFFER_LEN) sense_len = SENSE_BUFFER_LEN;
    if (sense_len > 0) o.sense.assign(sense, sense + sense_len);
    return o;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<Transport> open_sg_transport(const std::string& path, std::string* error) {
  int fd = scsi_pt_open_device(path.c_str(), false, 0);
  if (fd < 0) {
    errno = -fd;
    if (error) *error = "cannot open " + path + ": " + std::strerror(-fd);
    return nullptr;
  }
  std::unique_ptr<Transport> t(new (std::nothrow) Sg_Transport(fd));
  if (!t) {
    scsi_pt_close_device(fd);
    errno = ENOMEM;
    if (error) *error = "out of memory";
  }
  return t;
}

}  // namespace scsi
}  // namespace d2t
