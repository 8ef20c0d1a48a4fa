// Answers a NetBIOS control block from a table of LANAs; the host's adapters and the test double
// each supply their own table.
#pragma once

#include <array>
#include <vector>

#include <qx/platform/hostinfo/nb30.h>

// One LANA: its number, the result a status request gets, and the hardware address it reports.
// A status result other than NRC_GOODRET or NRC_INCOMP leaves the caller's buffer untouched;
// NRC_INCOMP still delivers the status.
struct TLanaAnswer {
  UCHAR Lana = 0;
  UCHAR StatusResult = NRC_GOODRET;
  std::array<UCHAR, 6> Address{};
};

// Carries out ncb's command against the table as nb30.h describes Netbios, in table order.
UCHAR AnswerNcb(NCB& ncb, const std::vector<TLanaAnswer>& lanas);
