// changer_identities and drive_identity on the emulated library, for each
// way a changer and its drives can identify the drives.
#include "d2t/tools/identity.h"

#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace {

// "number@address:serial" per element, or "failed".
std::string elements_text(const std::string& changer) {
  std::vector<Element_Identity> ids;
  if (!changer_identities(changer, ids)) return "failed";
  std::string s;
  for (const Element_Identity& e : ids)
    s += testing::fields(e.drive_number, e.address, e.serial, e.identifier.size()) + " ";
  return s;
}

using Identity = testing::Emulated_Library;
using testing::library_text;

TEST_F(Identity, ChangerIdentifiersOfEachKind) {
  // T10: vendor (8) + product (16) + serial; the serial is what counts.
  EXPECT_EQ("0|256|EMU-DRV-0001|36 1|257|EMU-DRV-0002|36 ", elements_text(CHANGER));
  start(library_text("serial", R"("element_identifier": "  XYZ-1")"));
  EXPECT_EQ("0|256|XYZ-1|12 1|257|EMU-DRV-0002|12 ", elements_text(CHANGER));
  start(library_text("none"));
  EXPECT_EQ("0|256||0 1|257||0 ", elements_text(CHANGER));
  EXPECT_EQ("failed", elements_text("/dev/sg99"));
}

TEST_F(Identity, DriveSideSerialDesignatorsAndPlacement) {
  start(library_text("none", R"("automation_vpd": true)"));
  Drive_Identity id;
  ASSERT_TRUE(drive_identity("/dev/nst1", id));  // drive 0 by its tape name
  ASSERT_EQ(1u, id.designators.size());
  EXPECT_EQ("EMU-DRV-0001|1|1|EMU-LIB-0001|256",
            testing::fields(id.unit_serial, int(id.designators[0].type), id.placed,
                            id.automation_serial, id.element_address));

  Drive_Identity other;
  ASSERT_TRUE(drive_identity("/dev/sg11", other));
  EXPECT_EQ("EMU-DRV-0002|0|",
            testing::fields(other.unit_serial, other.placed, other.automation_serial));
  EXPECT_FALSE(drive_identity("/dev/sg99", other));
}

}  // namespace
}  // namespace tools
}  // namespace d2t
