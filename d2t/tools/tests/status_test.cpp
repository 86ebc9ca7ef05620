// Listing and element status against the emulated library.
#include "d2t/tools/tests/quirky_changer.h"

namespace d2t {
namespace tools {
namespace {

using testing::fields;
using testing::SEEDED_DRIVES;
using testing::SEEDED_SLOTS;
using Status = testing::Quirky_Changer;

TEST_F(Status, ListingHasOneRecordPerDeviceWithIdentity) {
  std::string text = testing::LIBRARY_JSON;  // drive 1 on LUN 1
  start(text.replace(text.find(R"("lun": 0, "sg_name": "/dev/sg11")"), 9, R"("lun": 1,)"));
  // Devices of the older command set take INQUIRY byte 3 as reserved and
  // refuse any allocation length above 255: each is listed all the same.
  quirks_.old_inquiry = true;
  install_quirks();
  std::vector<Changer_var> changers;
  std::vector<Drive_var> drives;
  ASSERT_TRUE(lsscsi(changers, drives));
  ASSERT_EQ(1u, changers.size());
  ASSERT_EQ(2u, drives.size());
  const Changer& c = *changers[0];
  EXPECT_EQ("0|EMU-LIB-0001|3:0:0|EMULATED|TAPE LIBRARY|/dev/sg10|0|0",
            fields(c.id(), c.serial_number(), c.target_name(), c.vendor(), c.model(), c.sg_name(),
                   c.drives().size(), c.medias().size()));
  // Ordered by sg number: sg11 (drive 1) before sg12 (drive 0).
  const Drive& d = *drives[0];
  EXPECT_EQ(
      "EMU-DRV-0002|/dev/sg11|/dev/st0|3:0:1|1|LTO-9",
      fields(d.serial_number(), d.sg_name(), d.dev_name(), d.target_name(), d.lun(), d.model()));
  EXPECT_EQ("0|EMU-DRV-0001", fields(drives[1]->id(), drives[1]->serial_number()));
  EXPECT_GT(d.max_block(), 0u);  // from READ BLOCK LIMITS
  EXPECT_LE(d.min_block(), d.max_block());

  changers.clear(), drives.clear();
  ASSERT_TRUE(list_devices(changers, drives, false));
  EXPECT_EQ(1u, changers.size());
  EXPECT_EQ(2u, drives.size());
}

// Full, empty, cleaning, unlabelled and porter slots; drives in element
// order with the serials the changer reports; a second status replaces
// the contents and shows a loaded drive's tag and home slot.
TEST_F(Status, ElementsOfEveryKindThenALoadedDrive) {
  Changer c;
  c.id(7);
  ASSERT_TRUE(read_status(c));
  for (const Media_var& m : c.medias()) EXPECT_EQ(7, m->changer_id());
  EXPECT_EQ(SEEDED_SLOTS + SEEDED_DRIVES, status_text());

  ASSERT_TRUE(mount(CHANGER, 1, 3, "A00003L9", 3, count_));
  ASSERT_TRUE(read_status(c));
  EXPECT_EQ(26u, c.medias().size());  // replaced, not appended
  EXPECT_EQ(2u, c.drives().size());
  std::string expected = SEEDED_SLOTS;
  expected.replace(expected.find("3|A00003L9|full"), 15, "3||empty");
  EXPECT_EQ(expected + "d0|EMU-DRV-0001|@0 d1|EMU-DRV-0002|A00003L9@3 ", status_text());

  Changer unknown;
  unknown.sg_name("/dev/sg99");
  unknown.add_media(Media_var(new Media));
  EXPECT_FALSE(changer_status(unknown));
  EXPECT_EQ(1u, unknown.medias().size());  // record left as it was
}

}  // namespace
}  // namespace tools
}  // namespace d2t
