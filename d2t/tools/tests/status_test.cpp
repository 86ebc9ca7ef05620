// Listing and element status against the emulated library.
#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace {

using Listing = testing::Emulated_Library;
using Status = testing::Emulated_Library;

TEST_F(Listing, OneRecordPerDeviceWithIdentity) {
  std::vector<Changer_var> changers;
  std::vector<Drive_var> drives;
  ASSERT_TRUE(lsscsi(changers, drives));
  ASSERT_EQ(1u, changers.size());
  ASSERT_EQ(2u, drives.size());
  const Changer& c = *changers[0];
  EXPECT_EQ(0, c.id());
  EXPECT_EQ("EMU-LIB-0001", c.serial_number());
  EXPECT_EQ("3:0:0", c.target_name());
  EXPECT_EQ("EMULATED", c.vendor());
  EXPECT_EQ("TAPE LIBRARY", c.model());
  EXPECT_EQ("/dev/sg10", c.sg_name());
  EXPECT_TRUE(c.drives().empty());
  EXPECT_TRUE(c.medias().empty());
  // Ordered by sg number: sg11 (drive 1) before sg12 (drive 0).
  EXPECT_EQ("EMU-DRV-0002", drives[0]->serial_number());
  EXPECT_EQ("/dev/sg11", drives[0]->sg_name());
  EXPECT_EQ("/dev/st0", drives[0]->dev_name());
  EXPECT_EQ("3:0:1", drives[0]->target_name());
  EXPECT_EQ(1u, drives[0]->lun());
  EXPECT_EQ("LTO-9", drives[0]->model());
  EXPECT_EQ("EMU-DRV-0001", drives[1]->serial_number());
  EXPECT_EQ(0, drives[1]->id());
  EXPECT_GT(drives[0]->max_block(), 0u);  // from READ BLOCK LIMITS
  EXPECT_LE(drives[0]->min_block(), drives[0]->max_block());

  std::vector<Changer_var> again_c;
  std::vector<Drive_var> again_d;
  ASSERT_TRUE(list_devices(again_c, again_d, false));
  EXPECT_EQ(1u, again_c.size());
  EXPECT_EQ(2u, again_d.size());
}

TEST_F(Status, FullEmptyPorterAndUntaggedElements) {
  Changer c;
  c.id(7);
  c.sg_name(CHANGER);
  ASSERT_TRUE(changer_status(c));
  ASSERT_EQ(26u, c.medias().size());
  ASSERT_EQ(2u, c.drives().size());
  for (std::size_t i = 0; i < c.medias().size(); ++i) {
    const Media& m = *c.medias()[i];
    EXPECT_EQ(static_cast<ACE_INT32>(i + 1), m.slot_number());
    EXPECT_EQ(7, m.changer_id());
    EXPECT_EQ(i >= 24, m.is_porter()) << i;
  }
  EXPECT_EQ("A00001L9", c.medias()[0]->media_tag());
  EXPECT_EQ(MST_FULL, c.medias()[0]->state());
  EXPECT_EQ(MST_EMPTY, c.medias()[10]->state());  // slot 11
  EXPECT_EQ("", c.medias()[10]->media_tag());
  EXPECT_EQ("CLN001L1", c.medias()[11]->media_tag());
  EXPECT_EQ(MST_FULL, c.medias()[13]->state());  // slot 14, no label
  EXPECT_EQ("", c.medias()[13]->media_tag());
  EXPECT_EQ(MST_EMPTY, c.medias()[24]->state());

  // Drives in element order with the serials the changer reports.
  EXPECT_EQ(0u, c.drives()[0]->drive_number());
  EXPECT_EQ("EMU-DRV-0001", c.drives()[0]->serial_number());
  EXPECT_EQ(1u, c.drives()[1]->drive_number());
  EXPECT_EQ("EMU-DRV-0002", c.drives()[1]->serial_number());
  EXPECT_EQ(0, c.drives()[0]->slot_number());
  EXPECT_EQ("", c.drives()[0]->media_tag());
}

TEST_F(Status, LoadedDriveShowsTagAndHomeSlotAndStatusReplacesContents) {
  Changer c;
  c.sg_name(CHANGER);
  ASSERT_TRUE(changer_status(c));
  bool count = false;
  ASSERT_TRUE(mount(CHANGER, 1, 3, "A00003L9", 3, count));
  ASSERT_TRUE(changer_status(c));
  ASSERT_EQ(26u, c.medias().size());  // replaced, not appended
  ASSERT_EQ(2u, c.drives().size());
  EXPECT_EQ("A00003L9", c.drives()[1]->media_tag());
  EXPECT_EQ(3, c.drives()[1]->slot_number());
  EXPECT_EQ(MST_EMPTY, c.medias()[2]->state());
}

TEST_F(Status, UnknownChangerFailsAndLeavesRecord) {
  Changer c;
  c.sg_name("/dev/sg99");
  c.add_media(Media_var(new Media));
  EXPECT_FALSE(changer_status(c));
  EXPECT_EQ(1u, c.medias().size());
}

TEST(Clean_Media, TagPrefix) {
  EXPECT_TRUE(d2t::re::is_clean_media("CLN001L1"));
  EXPECT_FALSE(d2t::re::is_clean_media("A00001L9"));
  EXPECT_FALSE(d2t::re::is_clean_media("CL"));
  EXPECT_FALSE(d2t::re::is_clean_media(""));
}

}  // namespace
}  // namespace tools
}  // namespace d2t
