// The legacy uImage header U-Boot's iminfo and bootm check: 64 bytes, big-endian, magic
// 0x27051956, a CRC-32 over the header (with its own CRC field zero) and one over the data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/firmware.h"
#include "sim/uboot_memory.h"

namespace sim {

constexpr uint32_t kImageMagic = 0x27051956u;
constexpr uint32_t kImageHeaderSize = 64;

struct ImageHeader {
  uint32_t magic = 0, headerCrc = 0, time = 0, size = 0, load = 0, entry = 0, dataCrc = 0;
  uint8_t os = 0, arch = 0, type = 0, comp = 0;
  std::string name;
};

// Image header field values U-Boot knows here.
constexpr uint8_t kImageOsLinux = 5;
constexpr uint8_t kImageArchArm = 2;
constexpr uint8_t kImageTypeKernel = 2;
constexpr uint8_t kImageCompNone = 0;
constexpr uint8_t kImageCompGzip = 1;

ImageHeader ParseImageHeader(const std::vector<uint8_t>& bytes);

// Checks the image at address in RAM as iminfo does, printing its lines ("## Checking Image at
// 80700000 ...", the header fields, "   Verifying Checksum ... OK"). False after "Bad Magic
// Number", "Bad Header Checksum" or "Bad Data CRC". The check takes the time U-Boot needs.
bool CheckImage(Uart& uart, const Ram& ram, uint32_t address, const char* title,
                ImageHeader* header);

}  // namespace sim
