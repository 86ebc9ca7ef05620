// Why a listing failed or left a device out, as the caller reads it back.
#include "d2t/tools/diagnosis.h"

#include <gtest/gtest.h>

#include <thread>

#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"

namespace {

// Lists one changer; the listing itself or opening the device fails.
struct Failing_Provider : d2t::scsi::Device_Provider {
  bool list_ok = true;
  bool list(std::vector<d2t::scsi::Device_Entry>& out, std::string* error) override {
    if (!list_ok) {
      *error = "/tmp/lib.json: \"storage_slots\" must be a non-negative integer";
      return false;
    }
    d2t::scsi::Device_Entry e;
    e.kind = d2t::scsi::Device_Kind::CHANGER;
    e.sg_name = "/dev/sg3";
    out.push_back(e);
    return true;
  }
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* error) override {
    *error = "cannot open " + name + ": Permission denied";
    return nullptr;
  }
};

TEST(Diagnosis, ListingSaysWhyItFailedAndWhatItLeftOut) {
  auto provider = std::make_shared<Failing_Provider>();
  d2t::tools::set_device_provider(provider);
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  ASSERT_TRUE(d2t::tools::lsscsi(changers, drives));
  EXPECT_TRUE(changers.empty());
  EXPECT_EQ("", d2t::tools::listing_error());
  EXPECT_EQ(std::vector<std::string>{"cannot open /dev/sg3: Permission denied"},
            d2t::tools::listing_left_out());

  provider->list_ok = false;
  EXPECT_FALSE(d2t::tools::lsscsi(changers, drives));
  EXPECT_NE(std::string::npos, d2t::tools::listing_error().find("\"storage_slots\" must be"));
  d2t::tools::set_device_provider(nullptr);
}

TEST(Diagnosis, FailuresInWordsStayWithTheirThread) {
  d2t::scsi::Result r;
  r.failure = d2t::scsi::Failure::SENSE;
  r.sense = d2t::scsi::Sense{0x02, 0x3A, 0x00};
  d2t::tools::note_failure(r);
  EXPECT_EQ("sense NOT READY, medium not present (02/3A/00)", d2t::tools::last_failure());
  std::string other = "unset";
  std::thread([&] { other = d2t::tools::last_failure(); }).join();
  EXPECT_EQ("", other);
}

}  // namespace
