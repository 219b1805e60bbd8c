#include "host/link/ymodem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"

namespace {

uint16_t BlockCrc(const YModemBlock& block) { return static_cast<uint16_t>(block[1027] << 8 | block[1028]); }

uint16_t ReferenceCrc(const uint8_t* data) {
  uint16_t crc = 0;
  for (size_t i = 0; i < kYModemPayloadSize; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

class YModemBlocks : public ::testing::Test {
 protected:
  void SetUp() override { Crc16Init(crc_); }
  Crc16 crc_;
};

TEST_F(YModemBlocks, HeaderCarriesNameLengthAndTail) {
  YModemBlock block;
  block.fill(0x55);
  BuildHeaderBlock(block, crc_, "uImage", 2000000);
  EXPECT_EQ(block[0], 0x02);
  EXPECT_EQ(block[1], 0x00);
  EXPECT_EQ(block[2], 0xFF);
  const char expected[] =
      "uImage\0"
      "2000000 11750175350 100644";
  EXPECT_EQ(0, std::memcmp(block.data() + 3, expected, sizeof expected));
  for (size_t i = 3 + sizeof expected; i < 1027; ++i) ASSERT_EQ(block[i], 0) << "offset " << i;
  EXPECT_EQ(BlockCrc(block), ReferenceCrc(block.data() + 3));

  BuildHeaderBlock(block, crc_, "uImage", 0);
  const char empty[] =
      "uImage\0"
      "0 11750175350 100644";
  EXPECT_EQ(0, std::memcmp(block.data() + 3, empty, sizeof empty));
  EXPECT_EQ(block[3 + sizeof empty], 0);
}

TEST_F(YModemBlocks, DataBlockNumbersPaddingAndCrc) {
  YModemBlock block;
  block.fill(0);
  block[3] = 0x11;  // one file byte: the rest of the payload is padding
  FinishDataBlock(block, crc_, 2, 1);
  EXPECT_EQ(block[0], 0x02);
  EXPECT_EQ(block[1], 2);
  EXPECT_EQ(block[2], 253);
  EXPECT_EQ(block[3], 0x11);
  for (size_t i = 4; i < 1027; ++i) ASSERT_EQ(block[i], 0x1A) << "offset " << i;
  EXPECT_EQ(BlockCrc(block), ReferenceCrc(block.data() + 3));

  for (size_t i = 3; i < 1027; ++i) block[i] = static_cast<uint8_t>(i);
  FinishDataBlock(block, crc_, 0, 1024);  // the 256th block: number 0, complement 0xFF
  EXPECT_EQ(block[1], 0);
  EXPECT_EQ(block[2], 0xFF);
  for (size_t i = 3; i < 1027; ++i)
    ASSERT_EQ(block[i], static_cast<uint8_t>(i)) << "no padding in a full block";
  EXPECT_EQ(BlockCrc(block), ReferenceCrc(block.data() + 3));
}

TEST(YModemProgress, StaysTrueAboveFortyTwoMegabytes) {
  EXPECT_EQ(UploadPercent(0, 2048), 0u);
  EXPECT_EQ(UploadPercent(1, 2048), 50u);
  // 48 MiB: 49152 blocks; a 32-bit numerator would wrap after 41943 of them.
  const uint32_t size = 48u << 20;
  EXPECT_EQ(UploadPercent(41943, size), 85u);
  EXPECT_EQ(UploadPercent(41944, size), 85u);
  EXPECT_EQ(UploadPercent(49151, size), 99u);
}

class WaitControlByteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(port_.Open("SCRIPT1", kPortSettings), 1);
    saved_ = std::cout.rdbuf(console_.rdbuf());
  }
  void TearDown() override { std::cout.rdbuf(saved_); }
  uint64_t Now() { return clock_.clock().NowMs(); }
  void Say(uint64_t atMs, uint8_t byte) { target_.SendAt(atMs, std::string(1, static_cast<char>(byte))); }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_{clock_.clock()};
  ScriptedPort& target_ = ports_.Add("SCRIPT1");
  RS232 port_;
  std::ostringstream console_;
  std::streambuf* saved_ = nullptr;
};

TEST_F(WaitControlByteTest, ExpectedByteAfterNoise) {
  uint64_t start = Now();
  Say(start + 100, 'x');
  Say(start + 200, 0x00);
  Say(start + 2500, kYModemAck);
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 1);
  EXPECT_EQ(Now() - start, 2500u);
  EXPECT_EQ(console_.str(), "");
}

TEST_F(WaitControlByteTest, SilentLineFailsAfterTimeOut) {
  uint64_t start = Now();
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  // Reads of one second each: the wait ends with the first read that finishes past 5 s.
  EXPECT_GE(Now() - start, 5000u);
  EXPECT_LT(Now() - start, 6100u);
  EXPECT_EQ(console_.str(), "\nReceived: 0x00, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, LastOtherByteIsReported) {
  Say(Now() + 10, 0xAB);
  EXPECT_EQ(WaitControlByte(&port_, 10000, kYModemCrcRequest), 0);
  EXPECT_EQ(console_.str(), "\nReceived: 0xab, expected: 0x43\n");
}

TEST_F(WaitControlByteTest, WrongControlByteEndsAtOnce) {
  uint64_t start = Now();
  Say(start + 300, kYModemCrcRequest);
  Say(start + 400, kYModemAck);  // never read: the C already ended the wait
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(Now() - start, 300u);
  EXPECT_EQ(console_.str(), "\nReceived: 0x43, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, NakIsACrcError) {
  Say(Now() + 50, kYModemNak);
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(console_.str(), "\nNAK received, CRC16 error.\n");
}

TEST_F(WaitControlByteTest, ExpectedByteTooLateFails) {
  uint64_t start = Now();
  Say(start + 4000, 'z');
  Say(start + 5000, kYModemAck);  // not less than the time-out
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(console_.str(), "\nReceived: 0x06, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, FailingReadEndsTheWait) {
  target_.FailReadsFrom(Now(), 5);
  uint64_t start = Now();
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(Now(), start);
  EXPECT_EQ(console_.str(), "\nReceived: 0x00, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, SendEotIsOneByte) {
  SendEot(&port_);
  EXPECT_EQ(target_.AllWritten(), std::string(1, '\x04'));
}

}  // namespace
