#include "host/link/flasher_upload_header.h"

#include "host/link/boot_image_header.h"

// The count is rounded in 64 bits so that no length wraps round to a small one.
bool BootRomHeader(uint32_t checkValue, uint32_t byteLength, std::string* header) {
  const uint64_t rounded = (static_cast<uint64_t>(byteLength) + 3) / 4 * 4;
  if (rounded > kBootRomLargestImage) return false;
  *header = HexDigits(checkValue, 8) + HexDigits(static_cast<uint32_t>(rounded), 4) +
            HexDigits(kFlasherStartAddress, 4) + "0000";
  return true;
}
