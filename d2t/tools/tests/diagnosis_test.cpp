// Why a listing failed or left a device out, as the caller reads it back.
#include "d2t/tools/diagnosis.h"

#include <gtest/gtest.h>

#include <thread>

#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "testing/fixed_provider.h"

namespace {

TEST(Diagnosis, ListingSaysWhyItFailedAndWhatItLeftOut) {
  auto provider =
      std::make_shared<test_support::Fixed_Provider>(std::vector<std::string>{"/dev/sg3"});
  d2t::tools::set_device_provider(provider);
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  ASSERT_TRUE(d2t::tools::lsscsi(changers, drives));
  EXPECT_TRUE(changers.empty());
  EXPECT_EQ("", d2t::tools::listing_error());
  EXPECT_EQ(std::vector<std::string>{"cannot open /dev/sg3: Permission denied"},
            d2t::tools::listing_left_out());

  provider->list_error = "/tmp/lib.json: \"storage_slots\" must be a non-negative integer";
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
