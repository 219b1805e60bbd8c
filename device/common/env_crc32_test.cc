#include "device/common/env_crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

uint32_t Crc(const std::string& s, uint32_t skipStart = 0, uint32_t skipLength = 0) {
  return EnvCrc32(reinterpret_cast<const unsigned char*>(s.data()), s.size(), skipStart, skipLength);
}

TEST(EnvCrc32, MatchesTheIeeeCheckValues) {
  EXPECT_EQ(0xCBF43926U, Crc("123456789"));  // the standard check value of CRC-32/ISO-HDLC
  EXPECT_EQ(0x00000000U, Crc(""));
  EXPECT_EQ(0xE8B7BE43U, Crc("a"));
  EXPECT_EQ(0x414FA339U, Crc("The quick brown fox jumps over the lazy dog"));
  std::string zeros(32, '\0');
  EXPECT_EQ(0x190A55ADU, Crc(zeros));
}

TEST(EnvCrc32, SkipLeavesOutExactlyTheField) {
  // Positions count from 1: skipping 3 bytes from position 4 of "123xyz456789" leaves "123456789".
  EXPECT_EQ(Crc("123456789"), Crc("123xyz456789", 4, 3));
  EXPECT_EQ(Crc("123456789"), Crc("xy123456789", 1, 2));
  EXPECT_EQ(Crc("123456789"), Crc("xy123456789", 0, 2));  // skip start 0 acts as 1
  EXPECT_EQ(Crc("123456789"), Crc("123456789xy", 10, 2));
  EXPECT_EQ(Crc("123456789"), Crc("123456789", 10, 0));
  // A skip reaching past the end covers the rest and reads nothing beyond it.
  EXPECT_EQ(Crc("1234"), Crc("123456789", 5, 1000));
  EXPECT_EQ(Crc("123456789"), Crc("123456789", 50, 4));
}

TEST(EnvCrc32Hex, PutRefusesBadWidthsAndPositionsWithoutTouchingTheBuffer) {
  const std::string original = "abcdefghijklmnopqrstuvwxyz";
  std::string buf = original;
  EXPECT_EQ(-1, EnvCrc32PutHex(&buf[0], buf.size(), 1, 7));
  EXPECT_EQ(-2, EnvCrc32PutHex(&buf[0], buf.size(), 1, 100));
  EXPECT_EQ(-3, EnvCrc32PutHex(&buf[0], buf.size(), 27, 8));
  // The field must fit inside the buffer: position 20 with width 8 would write past its end.
  EXPECT_EQ(-3, EnvCrc32PutHex(&buf[0], buf.size(), 20, 8));
  EXPECT_EQ(original, buf);
  EXPECT_EQ(0, EnvCrc32PutHex(&buf[0], buf.size(), 19, 8));
}

TEST(EnvCrc32Hex, PutWritesUpperCaseDigitsThatCheckAccepts) {
  std::string buf = "header:XXXXXXXX:payload";
  ASSERT_EQ(0, EnvCrc32PutHex(&buf[0], buf.size(), 8, 8));
  char expected[16];
  snprintf(expected, sizeof expected, "%08X", Crc("header::payload"));
  EXPECT_EQ(std::string("header:") + expected + ":payload", buf);
  EXPECT_EQ(0, EnvCrc32CheckHex(buf.data(), buf.size(), 8, 8));

  std::string changed = buf;
  changed[20] = 'P';
  EXPECT_EQ(-1, EnvCrc32CheckHex(changed.data(), changed.size(), 8, 8));
  std::string badField = buf;
  badField[10] = badField[10] == '0' ? '1' : '0';
  EXPECT_EQ(-1, EnvCrc32CheckHex(badField.data(), badField.size(), 8, 8));
  EXPECT_EQ(-1, EnvCrc32CheckHex(buf.data(), buf.size(), 20, 8));  // field past the end
}

TEST(EnvCrc32Hex, WideFieldsArePaddedWithZeros) {
  std::string buf = "XXXXXXXXXXdata";
  ASSERT_EQ(0, EnvCrc32PutHex(&buf[0], buf.size(), 1, 10));
  EXPECT_EQ("00", buf.substr(0, 2));
  char expected[16];
  snprintf(expected, sizeof expected, "%08X", Crc("data"));
  EXPECT_EQ(expected, buf.substr(2, 8));
  EXPECT_EQ(0, EnvCrc32CheckHex(buf.data(), buf.size(), 1, 10));
}

TEST(EnvCrc32Hex, CheckReadsOnlyUpperCaseDigits) {
  // The CRC of "123456789" is CBF43926: written in lower case it no longer matches.
  EXPECT_EQ(0, EnvCrc32CheckHex("CBF43926123456789", 17, 1, 8));
  EXPECT_EQ(-1, EnvCrc32CheckHex("cbf43926123456789", 17, 1, 8));
}

}  // namespace
