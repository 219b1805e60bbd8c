// CRC-16/XMODEM as YModem blocks carry it: polynomial 0x1021, initial value 0, MSB first, no
// reflection and no final XOR. Table-driven over one 1024-byte block payload.
#pragma once

#include <cstdint>
#include <vector>

struct Crc16 {
  uint16_t polynomial = 0x1021;
  uint16_t initial = 0;
  // 256 entries of 16-bit values, filled by Crc16Init.
  std::vector<uint32_t> table;
};

constexpr uint32_t kCrc16PayloadSize = 1024;

// Fills the table from the polynomial.
void Crc16Init(Crc16& crc);

// The CRC of exactly kCrc16PayloadSize bytes starting at payload; sent high byte first.
uint16_t Crc16Compute(const Crc16& crc, const uint8_t* payload);
