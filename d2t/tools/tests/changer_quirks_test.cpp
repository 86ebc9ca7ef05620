// Changers that behave differently from the emulated one: short element
// status buffers, no device identifiers, no volume tags, busy robots. A
// wrapper alters the commands or answers of the emulated changer.
#include <cstring>
#include <deque>

#include "d2t/scsi/bytes.h"
#include "d2t/scsi/cdb.h"
#include "d2t/scsi/sense.h"
#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace {

struct Quirks {
  std::uint32_t max_allocation = 0;  // cut READ ELEMENT STATUS to this
  bool refuse_dvcid = false;
  bool refuse_voltag = false;
  std::deque<d2t::scsi::Outcome> move_answers;  // answered before the device
  int element_status_requests = 0;
  int moves = 0;
};

class Quirky_Transport : public d2t::scsi::Transport {
 public:
  Quirky_Transport(std::unique_ptr<d2t::scsi::Transport> inner, Quirks& q)
      : inner_(std::move(inner)), q_(q) {}
  d2t::scsi::Outcome execute(const d2t::scsi::Command& cmd) override {
    std::uint8_t cdb[16];
    std::memcpy(cdb, cmd.cdb, cmd.cdb_len);
    d2t::scsi::Command c = cmd;
    c.cdb = cdb;
    if (cdb[0] == d2t::scsi::OP_READ_ELEMENT_STATUS) {
      ++q_.element_status_requests;
      if ((q_.refuse_dvcid && (cdb[6] & 0x01)) || (q_.refuse_voltag && (cdb[1] & 0x10)))
        return check(d2t::scsi::SK_ILLEGAL_REQUEST, 0x24, 0);
      std::uint32_t alloc = d2t::scsi::get_be24(cdb + 7);
      if (q_.max_allocation && alloc > q_.max_allocation) {
        d2t::scsi::put_be24(cdb + 7, q_.max_allocation);
        c.data_len = q_.max_allocation;
        d2t::scsi::Outcome o = inner_->execute(c);
        o.resid += cmd.data_len - q_.max_allocation;
        return o;
      }
    }
    if (cdb[0] == d2t::scsi::OP_MOVE_MEDIUM) {
      ++q_.moves;
      if (!q_.move_answers.empty()) {
        d2t::scsi::Outcome o = q_.move_answers.front();
        q_.move_answers.pop_front();
        return o;
      }
    }
    return inner_->execute(c);
  }
  static d2t::scsi::Outcome check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    d2t::scsi::Outcome o;
    o.status = d2t::scsi::STATUS_CHECK_CONDITION;
    o.sense = d2t::scsi::build_fixed_sense(key, asc, ascq);
    return o;
  }

 private:
  std::unique_ptr<d2t::scsi::Transport> inner_;
  Quirks& q_;
};

class Quirky_Provider : public d2t::scsi::Device_Provider {
 public:
  Quirky_Provider(std::shared_ptr<d2t::scsi::Device_Provider> inner, Quirks& q)
      : inner_(std::move(inner)), q_(q) {}
  bool list(std::vector<d2t::scsi::Device_Entry>& out, std::string* e) override {
    return inner_->list(out, e);
  }
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* e) override {
    std::unique_ptr<d2t::scsi::Transport> t = inner_->open(name, e);
    if (!t) return t;
    return std::unique_ptr<d2t::scsi::Transport>(new Quirky_Transport(std::move(t), q_));
  }

 private:
  std::shared_ptr<d2t::scsi::Device_Provider> inner_;
  Quirks& q_;
};

class Quirky_Changer : public testing::Emulated_Library {
 protected:
  void SetUp() override {
    testing::Emulated_Library::SetUp();
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> inner = d2t::emulator::make_provider(file_, &error);
    ASSERT_TRUE(inner) << error;
    set_device_provider(std::make_shared<Quirky_Provider>(inner, quirks_));
  }
  // slot:tag lines of the status, and drive serials, for comparison.
  std::string status_text() {
    Changer c;
    c.sg_name(CHANGER);
    if (!changer_status(c)) return "failed";
    std::string s;
    for (const Media_var& m : c.medias())
      s += std::to_string(m->slot_number()) + ":" + m->media_tag() + ":" +
           media_state_to_name(m->state()) + (m->is_porter() ? ":p" : "") + " ";
    for (const Drive_var& d : c.drives())
      s += "d" + std::to_string(d->drive_number()) + ":" + d->serial_number() + ":" +
           d->media_tag() + " ";
    return s;
  }
  Quirks quirks_;
};

TEST_F(Quirky_Changer, ReportsLongerThanTheBufferAreContinued) {
  bool count = false;
  ASSERT_TRUE(mount(CHANGER, 1, 6, "A00006L8", 3, count));
  const std::string expected = status_text();
  ASSERT_NE("failed", expected);
  // Room for the headers and 3 tagged descriptors and a bit.
  quirks_.max_allocation = 16 + 3 * 48 + 20;
  quirks_.element_status_requests = 0;
  EXPECT_EQ(expected, status_text());
  EXPECT_GE(quirks_.element_status_requests, 24 / 3);
}

TEST_F(Quirky_Changer, BufferTooSmallForOneElementFails) {
  quirks_.max_allocation = 16 + 10;
  EXPECT_EQ("failed", status_text());
}

TEST_F(Quirky_Changer, NoDeviceIdentifiersOrVolumeTags) {
  quirks_.refuse_dvcid = true;
  Changer c;
  c.sg_name(CHANGER);
  ASSERT_TRUE(changer_status(c));
  ASSERT_EQ(2u, c.drives().size());
  EXPECT_EQ("", c.drives()[0]->serial_number());
  EXPECT_EQ("A00001L9", c.medias()[0]->media_tag());

  quirks_.refuse_voltag = true;
  Changer u;
  u.sg_name(CHANGER);
  ASSERT_TRUE(changer_status(u));
  ASSERT_EQ(26u, u.medias().size());
  EXPECT_EQ("", u.medias()[0]->media_tag());
  EXPECT_EQ(MST_FULL, u.medias()[0]->state());  // still known to be full
}

TEST_F(Quirky_Changer, BusyRobotIsRetriedAbortedMoveIsNot) {
  quirks_.move_answers.push_back(Quirky_Transport::check(d2t::scsi::SK_NOT_READY, 0x04, 0x01));
  d2t::scsi::Outcome busy;
  busy.status = d2t::scsi::STATUS_BUSY;
  quirks_.move_answers.push_back(busy);
  quirks_.move_answers.push_back(Quirky_Transport::check(d2t::scsi::SK_UNIT_ATTENTION, 0x28, 0));
  bool count = false;
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  EXPECT_EQ(4, quirks_.moves);
  EXPECT_EQ(2u * LOAD_UNLOAD_RETRY_INTERVAL * 1000, clock_->slept_);
  EXPECT_EQ("drive 0", where("A00001L9"));

  // Retries run out.
  for (int i = 0; i < 5; ++i) quirks_.move_answers.push_back(busy);
  quirks_.moves = 0;
  EXPECT_FALSE(transfer(CHANGER, 2, 11, 2));
  EXPECT_EQ(3, quirks_.moves);

  quirks_.move_answers.clear();
  quirks_.move_answers.push_back(Quirky_Transport::check(d2t::scsi::SK_ABORTED_COMMAND, 0, 0));
  quirks_.moves = 0;
  EXPECT_FALSE(transfer(CHANGER, 2, 11, 3));
  EXPECT_EQ(1, quirks_.moves);
  EXPECT_EQ("slot 2", where("A00002L9"));

  // A medium error is counted, not taken as a broken drive.
  quirks_.move_answers.push_back(Quirky_Transport::check(d2t::scsi::SK_MEDIUM_ERROR, 0x30, 0x00));
  count = false;
  EXPECT_FALSE(mount(CHANGER, 1, 2, "A00002L9", 0, count));
  EXPECT_TRUE(count);
}

}  // namespace
}  // namespace tools
}  // namespace d2t
