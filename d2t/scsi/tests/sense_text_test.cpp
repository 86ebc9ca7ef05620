// Outcomes in words, as the controller logs them.
#include "d2t/scsi/sense_text.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace d2t::scsi;

TEST(Sense_Text, NamesKeyCodeAndQualifierOrTheError) {
  Result r;
  r.failure = Failure::SENSE;
  r.sense = Sense{SK_NOT_READY, 0x3A, 0x00};
  EXPECT_EQ("sense NOT READY, medium not present (02/3A/00)", explain(r));
  r.sense = Sense{SK_ILLEGAL_REQUEST, 0x99, 0x01};  // not in the table: codes only
  EXPECT_EQ("sense ILLEGAL REQUEST (05/99/01)", explain(r));
  r.sense = Sense{0x1F, 0x00, 0x00};
  EXPECT_EQ("sense sense key 0x1F, no additional sense information (1F/00/00)", explain(r));

  Result os;
  os.failure = Failure::OS;
  os.os_errno = EACCES;
  EXPECT_EQ("operating system error: Permission denied (errno 13)", explain(os));
  Result busy;
  busy.failure = Failure::STATUS;
  busy.status = STATUS_BUSY;
  EXPECT_EQ("status BUSY (0x08)", explain(busy));
  Result transport;
  transport.failure = Failure::TRANSPORT;
  EXPECT_EQ(0u, explain(transport).find("transport error"));
}
