#include "host/link/crc32.h"

#include <string>

#include <gtest/gtest.h>

namespace {

Crc32 IeeeCrc() {
  Crc32 crc;
  Crc32Init(crc, kCrc32Polynomial, kCrc32InitialValue, kCrc32FinalXor);
  return crc;
}

uint32_t CrcOf(const std::string& text) {
  return Crc32Compute(IeeeCrc(), text.size(), reinterpret_cast<const uint8_t*>(text.data()));
}

// The same CRC worked bit by bit on the reflected polynomial: an independent route to the table.
uint32_t BitwiseTableEntry(uint32_t i) {
  uint32_t reg = i;
  for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
  return reg;
}

TEST(Crc32, TableFromTheNormalPolynomialIsTheReflectedTable) {
  const Crc32 crc = IeeeCrc();
  ASSERT_EQ(crc.table.size(), 256u);
  EXPECT_EQ(crc.table[0], 0x00000000u);
  EXPECT_EQ(crc.table[1], 0x77073096u);
  EXPECT_EQ(crc.table[255], 0x2D02EF8Du);
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(crc.table[i], BitwiseTableEntry(i)) << i;
  EXPECT_EQ(crc.polynomial, 0x04C11DB7u);
  EXPECT_EQ(crc.initialValue, 0xFFFFFFFFu);
  EXPECT_EQ(crc.finalXor, 0xFFFFFFFFu);
}

TEST(Crc32, CheckValuesOfTheStandard) {
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
  EXPECT_EQ(~CrcOf("123456789"), 0x340BC6D9u);  // what the boot ROM header carries
  EXPECT_EQ(CrcOf(""), 0x00000000u);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(Crc32, InitialAndFinalValuesAreTheRecordsOwn) {
  Crc32 raw;
  Crc32Init(raw, kCrc32Polynomial, 0xFFFFFFFF, 0);
  const std::string digits = "123456789";
  EXPECT_EQ(Crc32Compute(raw, digits.size(), reinterpret_cast<const uint8_t*>(digits.data())),
            0x340BC6D9u);
}

}  // namespace
