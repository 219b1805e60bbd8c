#include "sim/uboot_image.h"

#include <cstdio>

#include "sim/crc.h"

namespace sim {

namespace {

uint32_t BigEndian(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

std::string TypeName(const ImageHeader& h) {
  std::string os = h.os == kImageOsLinux ? "Linux" : "Unknown OS";
  std::string arch = h.arch == kImageArchArm ? "ARM" : "Unknown Architecture";
  std::string type = h.type == kImageTypeKernel ? "Kernel Image" : "Unknown Image";
  std::string comp = h.comp == kImageCompNone   ? "uncompressed"
                     : h.comp == kImageCompGzip ? "gzip compressed"
                                                : "unknown compression";
  return arch + " " + os + " " + type + " (" + comp + ")";
}

// The data CRC runs at about 20 MB/s on the ARM926.
constexpr Micros kCrcMicrosPerKiB = 50;

}  // namespace

ImageHeader ParseImageHeader(const std::vector<uint8_t>& b) {
  ImageHeader h;
  if (b.size() < kImageHeaderSize) return h;
  h.magic = BigEndian(b, 0);
  h.headerCrc = BigEndian(b, 4);
  h.time = BigEndian(b, 8);
  h.size = BigEndian(b, 12);
  h.load = BigEndian(b, 16);
  h.entry = BigEndian(b, 20);
  h.dataCrc = BigEndian(b, 24);
  h.os = b[28];
  h.arch = b[29];
  h.type = b[30];
  h.comp = b[31];
  for (size_t i = 32; i < 64 && b[i] != 0; ++i) h.name.push_back(static_cast<char>(b[i]));
  return h;
}

bool CheckImage(Uart& uart, const Ram& ram, uint32_t address, const char* title, ImageHeader* header) {
  char line[400];  // the header lines with a name of up to 32 characters
  std::snprintf(line, sizeof line, "## %s at %08x ...\n", title, address);
  uart.Send(line);
  if (!InDdr(address, kImageHeaderSize)) {
    uart.Send("   Bad Magic Number\n");
    return false;
  }
  std::vector<uint8_t> head = ReadRam(ram, address, kImageHeaderSize);
  ImageHeader h = ParseImageHeader(head);
  if (h.magic != kImageMagic) {
    uart.Send("   Bad Magic Number\n");
    return false;
  }
  for (int i = 4; i < 8; ++i) head[i] = 0;
  if (Crc32(head.data(), head.size()) != h.headerCrc) {
    uart.Send("   Bad Header Checksum\n");
    return false;
  }
  std::snprintf(line, sizeof line,
                "   Image Name:   %s\n   Image Type:   %s\n   Data Size:    %u Bytes = %.1f MB\n"
                "   Load Address: %08x\n   Entry Point:  %08x\n",
                h.name.c_str(), TypeName(h).c_str(), h.size, h.size / 1048576.0, h.load, h.entry);
  uart.Send(line);
  uart.Send("   Verifying Checksum ... ");
  const bool fits = InDdr(address, uint64_t{kImageHeaderSize} + h.size);
  uart.Delay(kCrcMicrosPerKiB * (h.size / 1024 + 1));
  if (!fits) {
    uart.Send("Bad Data CRC\n");
    return false;
  }
  std::vector<uint8_t> scratch;
  const uint8_t* data = RamBytes(ram, address + kImageHeaderSize, h.size, &scratch);
  if (Crc32(data, h.size) != h.dataCrc) {
    uart.Send("Bad Data CRC\n");
    return false;
  }
  uart.Send("OK\n");
  if (header) *header = h;
  return true;
}

}  // namespace sim
