// The log line of a failed move names what was tried and why it failed;
// every move is counted. Names from devices and requests are escaped.
#include <gtest/gtest.h>

#include "d2t/controller/move_report.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/diagnosis.h"

TEST(Move_Report, FailedMovesSayWhatAndWhyAndAreCounted) {
  Move_Attempt load{
      d2t::metrics::MOVE_LOAD, "LIB \"1\"", "/dev/sg10", 0, "DRV-1", 3, 0, "A00003L9"};
  EXPECT_EQ(
      "Failed to load cartridge A00003L9 from slot 3 into drive DRV-1 (element 0) of changer "
      "/dev/sg10 (library LIB%20%221%22): sense HARDWARE ERROR (04/44/00)",
      describe_failed_move(load, "sense HARDWARE ERROR (04/44/00)"));
  Move_Attempt unload = load;
  unload.kind = d2t::metrics::MOVE_SCAN_UNLOAD;
  EXPECT_EQ(
      "Failed to unload cartridge A00003L9 from drive DRV-1 (element 0) to slot 3 of changer "
      "/dev/sg10 (library LIB%20%221%22) during a scan: x",
      describe_failed_move(unload, "x"));
  const Move_Attempt transfer{d2t::metrics::MOVE_TRANSFER, "", "", -1, "", 2, 11, ""};
  EXPECT_EQ(
      "Failed to move cartridge (no label) from slot 2 to slot 11: no device outcome recorded",
      describe_failed_move(transfer, ""));

  const double failed = d2t::metrics::moves(load.library, d2t::metrics::MOVE_LOAD, false);
  const double ok = d2t::metrics::moves(load.library, d2t::metrics::MOVE_LOAD, true);
  d2t::tools::note_refusal("stale outcome of an earlier move");
  EXPECT_FALSE(Move_Report(load).finish(false));
  EXPECT_EQ("", d2t::tools::last_failure());  // a report starts from no outcome
  EXPECT_TRUE(Move_Report(load).finish(true));
  EXPECT_EQ(failed + 1, d2t::metrics::moves(load.library, d2t::metrics::MOVE_LOAD, false));
  EXPECT_EQ(ok + 1, d2t::metrics::moves(load.library, d2t::metrics::MOVE_LOAD, true));
}
