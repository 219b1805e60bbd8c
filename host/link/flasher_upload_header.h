// The boot ROM's UART boot header: 20 characters that describe the flasher image.
#pragma once

#include <cstdint>
#include <string>

// Where the boot ROM places and starts the flasher.
constexpr uint32_t kFlasherStartAddress = 0x0100;
// The byte count field has four hexadecimal digits: the largest image, rounded to whole words.
constexpr uint32_t kBootRomLargestImage = 0xFFFC;

// Check value (the complement of the image's CRC-32) in 8 digits, the rounded byte count in 4,
// "0100" and "0000", all upper case. False, and header untouched, when the rounded count does not
// fit its four digits.
bool BootRomHeader(uint32_t checkValue, uint32_t byteLength, std::string* header);
