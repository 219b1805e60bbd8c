// The texts the serial flasher takes before an image's raw bytes, and the hexadecimal text that
// the boot ROM and the flasher both read.
#pragma once

#include <cstdint>
#include <string>

// value as width hexadecimal digits, zero-padded; more digits when the value needs them.
std::string HexDigits(uint32_t value, int width, bool upperCase = true);

// The 36-character image header: magic, start address, byte count and load address as 8
// upper-case digits each, then "0000". No separators, no NUL.
std::string BootImageHeader(uint32_t magic, uint32_t startAddress, uint32_t byteCount,
                            uint32_t loadAddress);
