// The host's CRC-32 in its table-driven form: the boot ROM takes the table itself over the line
// before the flasher image, so the table is built once and kept in the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// IEEE 802.3 values: the polynomial in normal (not reflected) form, the initial register and the
// final XOR.
constexpr uint32_t kCrc32Polynomial = 0x04C11DB7;
constexpr uint32_t kCrc32InitialValue = 0xFFFFFFFF;
constexpr uint32_t kCrc32FinalXor = 0xFFFFFFFF;
constexpr size_t kCrc32TableSize = 256;

// The calculator record. It owns its table: Crc32Init fills it, and the record releases it when
// it goes out of scope.
struct Crc32 {
  uint32_t polynomial = 0;
  uint32_t initialValue = 0;
  uint32_t finalXor = 0;
  std::vector<uint32_t> table;
};

// Sets the three values and builds the 256 entries: entry i is the reflection of the register
// after 8 shift-left rounds on the reflected byte i placed in the top byte.
void Crc32Init(Crc32& crc, uint32_t polynomial, uint32_t initialValue, uint32_t finalXor);

// The CRC of length bytes: register = (register >> 8) ^ table[(byte ^ register) & 0xFF], then the
// final XOR. With the IEEE values the CRC of "123456789" is 0xCBF43926.
uint32_t Crc32Compute(const Crc32& crc, size_t length, const uint8_t* bytes);
