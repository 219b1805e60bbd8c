// The YModem receiver behind U-Boot's loady: C polling about once a second until the first
// block, 1024-byte (STX) and 128-byte (SOH) blocks with their number, its complement and a
// CRC-16 checked, ACK or NAK, a duplicate of the last block acknowledged and dropped, any other
// block number fatal (CAN CAN), EOT acknowledged. The file length of the header block cuts the
// padding of the last block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/firmware.h"

namespace sim {

struct YmodemResult {
  bool complete = false;       // EOT acknowledged and every announced byte received
  std::string error;           // why not, as U-Boot says it ("Timed out", ...)
  std::string fileName;        // from the header block
  std::vector<uint8_t> data;   // what arrived, cut to the announced length
};

constexpr uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18;

YmodemResult ReceiveYmodem(Uart& uart, const Faults& faults);

}  // namespace sim
