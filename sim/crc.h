// The board's own checksums, written from the device's side (the host's are separate on purpose,
// so that a mistake in one is caught by the other).
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// IEEE 802.3 CRC-32 (reflected 0xEDB88320, initial all ones, final complement), resumable:
// Crc32(b, n2, Crc32(a, n1)) is the CRC of a followed by b.
uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

// The boot ROM's reflected CRC-32 table entry i.
uint32_t Crc32TableEntry(unsigned i);

// CRC-16/XMODEM (polynomial 0x1021, initial 0, MSB first), as YModem blocks carry it.
uint16_t Crc16Xmodem(const uint8_t* data, size_t length);

}  // namespace sim
