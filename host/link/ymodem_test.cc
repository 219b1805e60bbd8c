#include "host/link/ymodem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/testing/virtual_clock.h"

namespace {

uint16_t BlockCrc(const YModemBlock& block) {
  return static_cast<uint16_t>(block[1027] << 8 | block[1028]);
}

uint16_t ReferenceCrc(const uint8_t* data) {
  uint16_t crc = 0;
  for (size_t i = 0; i < kYModemPayloadSize; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
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
  const char expected[] = "uImage\0" "2000000 11750175350 100644";
  EXPECT_EQ(0, std::memcmp(block.data() + 3, expected, sizeof expected));
  for (size_t i = 3 + sizeof expected; i < 1027; ++i) ASSERT_EQ(block[i], 0) << "offset " << i;
  EXPECT_EQ(BlockCrc(block), ReferenceCrc(block.data() + 3));

  BuildHeaderBlock(block, crc_, "uImage", 0);
  const char empty[] = "uImage\0" "0 11750175350 100644";
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
  for (size_t i = 3; i < 1027; ++i) ASSERT_EQ(block[i], static_cast<uint8_t>(i)) << "no padding in a full block";
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

// A port whose target sends scripted bytes at given virtual times; a silent read costs the
// driver's one-second read time-out, as on the real line.
class ScriptedPort : public RS232 {
 public:
  explicit ScriptedPort(VirtualClock& clock) : clock_(clock) {}
  void Say(uint64_t atMs, uint8_t byte) { script_.push_back({atMs, byte}); }
  int Read(void* buffer, uint32_t length, uint32_t* readCount, int) override {
    *readCount = 0;
    if (length == 0) return 0;
    if (failReads) return 0;
    if (!script_.empty() && script_.front().atMs <= clock_.NowMs() + 1000) {
      clock_.AdvanceTo(script_.front().atMs);
      *static_cast<uint8_t*>(buffer) = script_.front().byte;
      script_.pop_front();
      *readCount = 1;
      return 1;
    }
    clock_.Advance(1001);
    return 1;
  }
  int Write(const void* data, uint32_t length, uint32_t* written, int) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    sent.insert(sent.end(), bytes, bytes + length);
    if (written) *written = length;
    return 1;
  }
  std::vector<uint8_t> sent;
  bool failReads = false;

 private:
  struct Timed {
    uint64_t atMs;
    uint8_t byte;
  };
  VirtualClock& clock_;
  std::deque<Timed> script_;
};

class WaitControlByteTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = std::cout.rdbuf(console_.rdbuf()); }
  void TearDown() override { std::cout.rdbuf(saved_); }
  uint64_t Now() { return clock_.clock().NowMs(); }
  ScopedVirtualClock clock_;
  ScriptedPort port_{clock_.clock()};
  std::ostringstream console_;
  std::streambuf* saved_ = nullptr;
};

TEST_F(WaitControlByteTest, ExpectedByteAfterNoise) {
  uint64_t start = Now();
  port_.Say(start + 100, 'x');
  port_.Say(start + 200, 0x00);
  port_.Say(start + 2500, kYModemAck);
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
  port_.Say(Now() + 10, 0xAB);
  EXPECT_EQ(WaitControlByte(&port_, 10000, kYModemCrcRequest), 0);
  EXPECT_EQ(console_.str(), "\nReceived: 0xab, expected: 0x43\n");
}

TEST_F(WaitControlByteTest, WrongControlByteEndsAtOnce) {
  uint64_t start = Now();
  port_.Say(start + 300, kYModemCrcRequest);
  port_.Say(start + 400, kYModemAck);  // never read: the C already ended the wait
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(Now() - start, 300u);
  EXPECT_EQ(console_.str(), "\nReceived: 0x43, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, NakIsACrcError) {
  port_.Say(Now() + 50, kYModemNak);
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(console_.str(), "\nNAK received, CRC16 error.\n");
}

TEST_F(WaitControlByteTest, ExpectedByteTooLateFails) {
  uint64_t start = Now();
  port_.Say(start + 4000, 'z');
  port_.Say(start + 5000, kYModemAck);  // not less than the time-out
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(console_.str(), "\nReceived: 0x06, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, FailingReadEndsTheWait) {
  port_.failReads = true;
  uint64_t start = Now();
  EXPECT_EQ(WaitControlByte(&port_, 5000, kYModemAck), 0);
  EXPECT_EQ(Now(), start);
  EXPECT_EQ(console_.str(), "\nReceived: 0x00, expected: 0x6\n");
}

TEST_F(WaitControlByteTest, SendEotIsOneByte) {
  SendEot(&port_);
  EXPECT_EQ(port_.sent, std::vector<uint8_t>{0x04});
}

}  // namespace
