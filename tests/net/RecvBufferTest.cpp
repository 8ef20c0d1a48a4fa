// Cutting held bytes into lines and terminated pieces, without sockets.
#include <qx/net/RecvBuffer.h>

#include <gtest/gtest.h>

namespace {

RawByteString B(std::string_view s) {
  return RawByteString::FromBytes(s);
}

void Append(TRecvBuffer& buf, std::string_view s) {
  buf.Append(s.data(), s.size());
}

std::vector<std::string> Lines(TRecvBuffer& buf) {
  std::vector<std::string> lines;
  RawByteString line;
  while (buf.TakeLine(line)) lines.push_back(line.Bytes());
  return lines;
}

}  // namespace

TEST(RecvBuffer, CrLfSplitAtTheDatagramBoundaryIsOneLineEnd) {
  TRecvBuffer buf;
  Append(buf, "one\r");
  EXPECT_EQ(Lines(buf), std::vector<std::string>{"one"});
  EXPECT_TRUE(buf.PendingLF());
  Append(buf, "\ntwo\r\n");
  EXPECT_EQ(Lines(buf), std::vector<std::string>{"two"});

  // Only the very next byte is forgiven, and only when it is a LF.
  Append(buf, "three\r");
  EXPECT_EQ(Lines(buf), std::vector<std::string>{"three"});
  Append(buf, "four\n");
  EXPECT_FALSE(buf.PendingLF());
  EXPECT_EQ(Lines(buf), std::vector<std::string>{"four"});

  // A datagram that is nothing but that LF leaves nothing held.
  Append(buf, "five\r");
  Lines(buf);
  Append(buf, "\n");
  EXPECT_TRUE(buf.Empty());
  EXPECT_FALSE(buf.PendingLF());
}

TEST(RecvBuffer, TerminatorsOfAnyLengthAlsoWhenSplit) {
  TRecvBuffer buf;
  RawByteString piece;
  Append(buf, "X;Y;");
  ASSERT_TRUE(buf.TakeTerminated(";", piece));
  EXPECT_EQ(piece, B("X"));
  ASSERT_TRUE(buf.TakeTerminated(";", piece));
  EXPECT_EQ(piece, B("Y"));
  EXPECT_FALSE(buf.TakeTerminated(";", piece));

  // The terminator arrives in three parts; the search must not skip its start.
  Append(buf, "one<E");
  EXPECT_FALSE(buf.TakeTerminated("<END>", piece));
  Append(buf, "N");
  EXPECT_FALSE(buf.TakeTerminated("<END>", piece));
  Append(buf, "D>two");
  ASSERT_TRUE(buf.TakeTerminated("<END>", piece));
  EXPECT_EQ(piece, B("one"));
  EXPECT_EQ(buf.View(), "two");
}

TEST(RecvBuffer, SelfOverlappingTerminatorIsFoundAtItsFirstStart) {
  TRecvBuffer buf;
  RawByteString piece;
  Append(buf, "xaa");
  EXPECT_FALSE(buf.TakeTerminated("aab", piece));
  Append(buf, "bz");
  ASSERT_TRUE(buf.TakeTerminated("aab", piece));
  EXPECT_EQ(piece, B("x"));
  EXPECT_EQ(buf.View(), "z");
}
