#include "sim/network_faults.h"

#include <cstring>

#include "sim/crc.h"

namespace sim {

namespace {

constexpr uint8_t kReadRequest = 1;
constexpr uint8_t kData = 3;
constexpr size_t kTftpHeader = 4;        // opcode and block number
constexpr size_t kImageHeaderSize = 64;  // the legacy uImage header at the start of the file
constexpr size_t kImageNameOffset = 32;
constexpr char kMissingSuffix[] = "~not-on-this-server";

uint16_t Opcode(const Datagram& d) {
  return d.payload.size() >= 2 ? static_cast<uint16_t>(d.payload[0] << 8 | d.payload[1]) : 0;
}

}  // namespace

bool LeavesThroughFaults(const Faults& faults, Datagram* datagram) {
  if (faults.tftpNoServer) return false;
  if (faults.tftpNotFound && datagram->destinationPort == kTftpServerPort &&
      Opcode(*datagram) == kReadRequest) {
    // The name ends at the first NUL after the opcode.
    std::vector<uint8_t>& p = datagram->payload;
    for (size_t i = 2; i < p.size(); ++i) {
      if (p[i] != 0) continue;
      p.insert(p.begin() + static_cast<std::ptrdiff_t>(i), kMissingSuffix,
               kMissingSuffix + std::strlen(kMissingSuffix));
      break;
    }
  }
  return true;
}

bool ArrivesThroughFaults(const Faults& faults, Datagram* datagram) {
  if (faults.tftpNoServer) return false;
  std::vector<uint8_t>& p = datagram->payload;
  if (faults.tftpOtherFile && Opcode(*datagram) == kData && p.size() >= kTftpHeader + kImageHeaderSize &&
      p[2] == 0 && p[3] == 1) {
    uint8_t* header = p.data() + kTftpHeader;
    std::memset(header + kImageNameOffset, 0, kImageHeaderSize - kImageNameOffset);
    std::memcpy(header + kImageNameOffset, kOtherKernelName, std::strlen(kOtherKernelName));
    std::memset(header + 4, 0, 4);
    const uint32_t crc = Crc32(header, kImageHeaderSize);
    for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  }
  return true;
}

}  // namespace sim
