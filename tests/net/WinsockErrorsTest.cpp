// The errno and getaddrinfo mappings onto Winsock numbers, and their texts.
#include <qx/net/WinsockErrors.h>

#include <netdb.h>

#include <gtest/gtest.h>

#include <cerrno>

TEST(WinsockErrors, CodesAndTexts) {
  EXPECT_EQ(ErrnoToWinsock(0), 0);
  EXPECT_EQ(ErrnoToWinsock(EADDRINUSE), 10048);
  EXPECT_EQ(ErrnoToWinsock(EADDRNOTAVAIL), 10049);
  EXPECT_EQ(ErrnoToWinsock(ETIMEDOUT), 10060);
  EXPECT_EQ(ErrnoToWinsock(EACCES), 10013);
  EXPECT_EQ(ErrnoToWinsock(EPERM), 10013);
  EXPECT_EQ(ErrnoToWinsock(ENOMEM), 10055);
  EXPECT_EQ(GaiToWinsock(EAI_NONAME, 0), 11001);
  EXPECT_EQ(GaiToWinsock(EAI_SERVICE, 0), 10109);
  EXPECT_EQ(GaiToWinsock(EAI_SYSTEM, EMFILE), 10024);

  EXPECT_EQ(WinsockErrorDesc(0), "");
  EXPECT_EQ(WinsockErrorDesc(10048), "Address already in use");
  EXPECT_EQ(WinsockErrorDesc(11001), "Host not found");
  // An errno without a Winsock number keeps it and reads as the system's text.
  EXPECT_EQ(ErrnoToWinsock(ENOSPC), ENOSPC);
  EXPECT_FALSE(WinsockErrorDesc(ENOSPC).empty());
  EXPECT_EQ(WinsockErrorDesc(99999), "Socket error 99999");
}
