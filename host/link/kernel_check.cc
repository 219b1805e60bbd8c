#include "host/link/kernel_check.h"

#include <cstdlib>
#include <iostream>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"

namespace {

constexpr uint32_t kImageMagic = 0x27051956u;
constexpr size_t kHeaderSize = 64;
constexpr size_t kSizeOffset = 12;
constexpr size_t kNameOffset = 32;
constexpr size_t kNameLength = 32;
constexpr char kIminfoCommand[] = "iminfo 0x80700000\r\n";
// The data CRC of a few megabytes takes U-Boot a fraction of a second.
constexpr uint32_t kIminfoTimeoutMs = 10000;

uint32_t BigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The text after key on the line, without leading blanks and the line end.
bool ValueAfter(const std::string& line, const char* key, std::string* value) {
  const size_t at = line.find(key);
  if (at == std::string::npos) return false;
  size_t from = line.find_first_not_of(' ', at + std::char_traits<char>::length(key));
  size_t to = line.find_last_not_of("\r\n");
  *value = from == std::string::npos || to == std::string::npos || to < from
               ? ""
               : line.substr(from, to - from + 1);
  return true;
}

}  // namespace

bool ReadKernelImageHeader(std::FILE* file, const char* fileName, KernelImageHeader* header) {
  uint8_t bytes[kHeaderSize];
  const size_t got = std::fread(bytes, 1, kHeaderSize, file);
  std::fseek(file, 0, SEEK_SET);
  if (got != kHeaderSize || BigEndian(bytes) != kImageMagic) {
    std::cout << "Error: " << fileName << " is no U-Boot kernel image." << std::endl;
    return false;
  }
  header->dataSize = BigEndian(bytes + kSizeOffset);
  header->name.clear();
  for (size_t i = 0; i < kNameLength && bytes[kNameOffset + i] != 0; ++i)
    header->name.push_back(static_cast<char>(bytes[kNameOffset + i]));
  return true;
}

int CheckKernelInMemory(RS232* port, const KernelImageHeader& expected) {
  const int32_t paced = port->pacedWrite;
  port->pacedWrite = 1;
  Type(port, kIminfoCommand);
  port->pacedWrite = paced;
  std::vector<std::string> lines;
  if (!WaitForTextKeepingLines({"Bad Magic Number", "Bad Header Checksum", "Bad Data CRC"},
                        "Verifying Checksum ... OK", port, kIminfoTimeoutMs, &lines))
    return 0;
  std::string name, size;
  bool nameSeen = false, sizeSeen = false;
  for (const std::string& line : lines) {
    nameSeen = ValueAfter(line, "Image Name:", &name) || nameSeen;
    sizeSeen = ValueAfter(line, "Data Size:", &size) || sizeSeen;
  }
  const bool sameSize = sizeSeen && std::strtoul(size.c_str(), nullptr, 10) == expected.dataSize &&
                        size.find_first_not_of("0123456789") == size.find(' ');
  // U-Boot prints the name after blanks of its own; a name's own leading blanks vanish with them.
  const size_t nameStart = expected.name.find_first_not_of(' ');
  const std::string expectedName = nameStart == std::string::npos ? "" : expected.name.substr(nameStart);
  if (nameSeen && sameSize && name == expectedName) return 1;
  std::cout << "\nError: the kernel in the board's memory is not this uImage (\"" << expected.name << "\", "
            << expected.dataSize << " bytes of data)." << std::endl;
  return 0;
}
