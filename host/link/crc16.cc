#include "host/link/crc16.h"

void Crc16Init(Crc16& crc) {
  crc.table.assign(256, 0);
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t v = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      v = (v & 0x8000) ? static_cast<uint16_t>((v << 1) ^ crc.polynomial) : static_cast<uint16_t>(v << 1);
    }
    crc.table[i] = v;
  }
}

uint16_t Crc16Compute(const Crc16& crc, const uint8_t* payload) {
  uint32_t value = crc.initial;
  for (uint32_t i = 0; i < kCrc16PayloadSize; ++i) {
    value = ((value << 8) ^ crc.table[((value >> 8) ^ payload[i]) & 0xFF]) & 0xFFFF;
  }
  return static_cast<uint16_t>(value);
}
