#include "sim/crc.h"

namespace sim {

namespace {

// Bit by bit from the reflected polynomial: independent of any table the host sends.
uint32_t ReflectedEntry(unsigned i) {
  uint32_t c = i;
  for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  return c;
}

struct Crc32Table {
  uint32_t entry[256];
  Crc32Table() {
    for (unsigned i = 0; i < 256; ++i) entry[i] = ReflectedEntry(i);
  }
};

const Crc32Table& Table() {
  static const Crc32Table table;
  return table;
}

// CRC-16/XMODEM (polynomial 0x1021, MSB first), a byte at a time from a table made bit by bit.
struct Crc16Table {
  uint16_t entry[256];
  Crc16Table() {
    for (unsigned i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k)
        c = (c & 0x8000u) ? static_cast<uint16_t>((c << 1) ^ 0x1021u) : static_cast<uint16_t>(c << 1);
      entry[i] = c;
    }
  }
};

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc) {
  const Crc32Table& t = Table();
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = t.entry[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

uint32_t Crc32TableEntry(unsigned i) { return Table().entry[i & 0xFFu]; }

uint16_t Crc16Xmodem(const uint8_t* data, size_t length) {
  static const Crc16Table table;
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ table.entry[((crc >> 8) ^ data[i]) & 0xFFu]);
  return crc;
}

}  // namespace sim
