#include "host/link/kernel_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"

namespace {

constexpr uint32_t kImageMagic = 0x27051956u;
constexpr size_t kSizeOffset = 12;
constexpr size_t kDataCrcOffset = 24;
constexpr size_t kNameOffset = 32;
constexpr size_t kNameLength = 32;
// iminfo's verdicts on an image it refuses.
constexpr const char* kIminfoRefusals[] = {"Bad Magic Number", "Bad Header Checksum", "Bad Data CRC"};
// The data CRC of a few megabytes takes U-Boot a fraction of a second, several with its data
// cache off.
constexpr uint32_t kIminfoTimeoutMs = 10000;
constexpr uint32_t kShowHeaderTimeoutMs = 5000;

uint32_t BigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

std::string ImageName(const uint8_t* header) {
  std::string name;
  for (size_t i = 0; i < kNameLength && header[kNameOffset + i] != 0; ++i)
    name.push_back(static_cast<char>(header[kNameOffset + i]));
  return name;
}

// Appends the bytes of one md line that shows address: "80700010: 1c9a4b00 00a02000 ...    text",
// each word as the little-endian ARM reads it, so its last two digits are its first byte. False
// when the line shows another address or is no md line.
bool AppendMemoryLine(const std::string& line, uint32_t address, std::vector<uint8_t>* bytes) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%08x:", static_cast<unsigned>(address));
  if (line.compare(0, 9, prefix) != 0) return false;
  size_t at = 9;
  // Objects are a blank and 2, 4 or 8 digits; the text column begins after four blanks.
  while (at + 1 < line.size() && line[at] == ' ' && std::isxdigit(static_cast<unsigned char>(line[at + 1]))) {
    size_t end = at + 1;
    while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
    const size_t digits = end - at - 1;
    if (digits != 2 && digits != 4 && digits != 8) return false;
    const uint32_t value = static_cast<uint32_t>(std::strtoul(line.substr(at + 1, digits).c_str(), nullptr, 16));
    for (size_t i = 0; i < digits / 2; ++i) bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
    at = end;
  }
  return true;
}

// The header as md showed it, from address on; shorter when lines are missing.
std::vector<uint8_t> HeaderShown(const std::vector<std::string>& lines, uint32_t address) {
  std::vector<uint8_t> bytes;
  for (const std::string& line : lines) {
    if (bytes.size() >= kKernelHeaderSize) break;
    AppendMemoryLine(line, address + static_cast<uint32_t>(bytes.size()), &bytes);
  }
  return bytes;
}

std::string HexAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(address));
  return text;
}

// iminfo at address, then (when it verified the image) the header shown by md into *lines. The
// iminfo goes out paced when asked (after a load the board may still be busy), else as the port
// is set; the md line, sixteen characters with its Enter, no more than the board's UART holds,
// goes out whole. False when iminfo refused the image or did not answer; *refusal gets iminfo's
// words when it refused.
bool VerifyAndShowHeader(RS232* port, uint32_t address, bool pacedIminfo, std::vector<std::string>* lines,
                         std::string* refusal) {
  const int32_t paced = port->pacedWrite;
  if (pacedIminfo) port->pacedWrite = 1;
  std::vector<std::string> answer;
  const bool verified = TypeCommand(port, "iminfo 0x" + HexAddress(address)) &&
                        WaitForLine({kIminfoRefusals[0], kIminfoRefusals[1], kIminfoRefusals[2]},
                                    "Verifying Checksum ... OK", port, kIminfoTimeoutMs, &answer);
  port->pacedWrite = 0;
  if (verified && TypeCommand(port, "md " + HexAddress(address) + " 10")) {
    WaitForLine({"Unknown command"}, (HexAddress(address + 0x30) + ":").c_str(), port, kShowHeaderTimeoutMs,
                lines);
  }
  port->pacedWrite = paced;
  if (!verified && !answer.empty()) {
    for (const char* words : kIminfoRefusals)
      if (answer.back().find(words) != std::string::npos) *refusal = words;
  }
  return verified;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

bool ReadKernelImageHeader(std::FILE* file, const char* fileName, KernelImageHeader* header) {
  const size_t got = std::fread(header->bytes.data(), 1, kKernelHeaderSize, file);
  std::fseek(file, 0, SEEK_SET);
  if (got != kKernelHeaderSize || BigEndian(header->bytes.data()) != kImageMagic) {
    std::cout << "Error: " << fileName << " is no U-Boot kernel image." << std::endl;
    return false;
  }
  header->dataSize = BigEndian(header->bytes.data() + kSizeOffset);
  header->name = ImageName(header->bytes.data());
  return true;
}

int CheckKernelInMemory(RS232* port, const KernelImageHeader& expected) {
  std::vector<std::string> lines;
  std::string refusal;
  if (!VerifyAndShowHeader(port, kKernelLoadAddress, true, &lines, &refusal)) return 0;

  const std::vector<uint8_t> shown = HeaderShown(lines, kKernelLoadAddress);
  if (shown.size() < kKernelHeaderSize) {
    std::cout << "\nError: the board did not show the kernel's header in its memory." << std::endl;
    return 0;
  }
  if (std::equal(shown.begin(), shown.begin() + kKernelHeaderSize, expected.bytes.begin())) return 1;
  std::cout << "\nError: the kernel in the board's memory is not this uImage (\"" << expected.name << "\", "
            << expected.dataSize << " bytes of data, data CRC " << Hex(BigEndian(&expected.bytes[kDataCrcOffset]))
            << "): it is \"" << ImageName(shown.data()) << "\", " << BigEndian(&shown[kSizeOffset])
            << " bytes of data, data CRC " << Hex(BigEndian(&shown[kDataCrcOffset])) << "." << std::endl;
  return 0;
}

ImageVerdict CheckImageAt(RS232* port, const KernelImageHeader& expected, uint32_t address, std::string* words) {
  std::vector<std::string> lines;
  std::string refusal;
  if (!VerifyAndShowHeader(port, address, false, &lines, &refusal)) {
    *words = refusal.empty() ? "no answer to iminfo" : refusal;
    return refusal.empty() ? ImageVerdict::kNoAnswer : ImageVerdict::kBad;
  }
  const std::vector<uint8_t> shown = HeaderShown(lines, address);
  if (shown.size() < kKernelHeaderSize) {
    *words = "its header not shown";
    return ImageVerdict::kNoAnswer;
  }
  if (std::equal(shown.begin(), shown.begin() + kKernelHeaderSize, expected.bytes.begin())) return ImageVerdict::kEqual;
  *words = "another image: \"" + ImageName(shown.data()) + "\", data CRC " + Hex(BigEndian(&shown[kDataCrcOffset]));
  return ImageVerdict::kOther;
}
