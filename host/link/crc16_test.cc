#include "host/link/crc16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

uint16_t Crc(const uint8_t* payload) {
  Crc16 crc;
  Crc16Init(crc);
  return Crc16Compute(crc, payload);
}

// Bit by bit, straight from the polynomial, to check the table-driven version against.
uint16_t BitwiseCrc(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

TEST(Crc16, KnownValues) {
  uint8_t payload[kCrc16PayloadSize] = {};
  EXPECT_EQ(Crc(payload), 0x0000);
  payload[kCrc16PayloadSize - 1] = 0x01;
  EXPECT_EQ(Crc(payload), 0x1021);

  // With an initial value of 0, leading zeros leave the CRC alone, so the standard check value
  // of CRC-16/XMODEM ("123456789" -> 0x31C3) shows at the end of a block.
  std::memset(payload, 0, sizeof payload);
  std::memcpy(payload + kCrc16PayloadSize - 9, "123456789", 9);
  EXPECT_EQ(Crc(payload), 0x31C3);
}

TEST(Crc16, TableMatchesPolynomial) {
  Crc16 crc;
  Crc16Init(crc);
  ASSERT_EQ(crc.table.size(), 256u);
  EXPECT_EQ(crc.table[0], 0x0000u);
  EXPECT_EQ(crc.table[1], 0x1021u);
  EXPECT_EQ(crc.table[255], 0x1EF0u);

  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    uint8_t payload[kCrc16PayloadSize];
    for (uint8_t& b : payload) b = static_cast<uint8_t>(random());
    EXPECT_EQ(Crc16Compute(crc, payload), BitwiseCrc(payload, sizeof payload)) << "round " << round;
  }
}

}  // namespace
