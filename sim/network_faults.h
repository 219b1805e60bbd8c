// The station's failures as the board's Ethernet port meets them: the fault switches act on the
// datagrams between the board and the network, so that the real TFTP server behind devsim and
// the tests' own network see the same board.
#pragma once

#include "sim/firmware.h"

namespace sim {

constexpr uint16_t kTftpServerPort = 69;

// A datagram the board sent, on its way out: false when it is lost. "tftp-not-found" turns a read
// request into one for a file no server holds.
bool LeavesThroughFaults(const Faults& faults, Datagram* datagram);

// A datagram on its way to the board: false when it is lost. "tftp-other-file" gives the first
// data block another image name (with a header checksum to match), as a different build of the
// kernel of the same size would have.
bool ArrivesThroughFaults(const Faults& faults, Datagram* datagram);

// The image name the other kernel carries.
constexpr char kOtherKernelName[] = "Linux-2.6.18_pro500-old-build";

}  // namespace sim
