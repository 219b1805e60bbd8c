#include "host/link/crc32.h"

namespace {

uint32_t Reflect(uint32_t value, int bits) {
  uint32_t result = 0;
  for (int i = 0; i < bits; ++i) {
    if (value & (1u << i)) result |= 1u << (bits - 1 - i);
  }
  return result;
}

}  // namespace

void Crc32Init(Crc32& crc, uint32_t polynomial, uint32_t initialValue, uint32_t finalXor) {
  crc.polynomial = polynomial;
  crc.initialValue = initialValue;
  crc.finalXor = finalXor;
  crc.table.assign(kCrc32TableSize, 0);
  for (uint32_t i = 0; i < kCrc32TableSize; ++i) {
    uint32_t reg = Reflect(i, 8) << 24;
    for (int round = 0; round < 8; ++round) {
      const bool topBit = (reg & 0x80000000u) != 0;
      reg <<= 1;
      if (topBit) reg ^= polynomial;
    }
    crc.table[i] = Reflect(reg, 32);
  }
}

uint32_t Crc32Compute(const Crc32& crc, size_t length, const uint8_t* bytes) {
  uint32_t reg = crc.initialValue;
  for (size_t i = 0; i < length; ++i) {
    reg = (reg >> 8) ^ crc.table[(bytes[i] ^ reg) & 0xFF];
  }
  return reg ^ crc.finalXor;
}
