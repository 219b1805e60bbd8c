#include "host/link/boot_image_header.h"

std::string HexDigits(uint32_t value, int width, bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), '0');
  return text;
}

std::string BootImageHeader(uint32_t magic, uint32_t startAddress, uint32_t byteCount,
                            uint32_t loadAddress) {
  return HexDigits(magic, 8) + HexDigits(startAddress, 8) + HexDigits(byteCount, 8) +
         HexDigits(loadAddress, 8) + "0000";
}
