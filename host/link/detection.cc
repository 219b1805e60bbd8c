#include "host/link/detection.h"

#include <iostream>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"
#include "host/platform/console.h"
#include "host/platform/port_list.h"

namespace {

constexpr uint32_t kSettleMs = 500;
constexpr uint32_t kAnswerTimeoutMs = 1000;

// Restarts whatever hangs on the port and waits for text: the boot ROM answers " BOOTME", a
// board with a boot loader in NAND prints its "UBL" banner.
bool Probe(RS232& port, const char* answer) {
  port.SendBreak();
  port.PurgeInput();
  HostClock().SleepMs(kSettleMs);
  return WaitForText(nullptr, answer, &port, kAnswerTimeoutMs);
}

}  // namespace

std::string DetectTarget() {
  RS232 port;
  std::string found;
  for (const auto& entry : ListSerialPorts()) {
    const std::string& name = entry.second;
    if (!port.Open(name.c_str(), kPortSettings)) continue;  // Open has said why
    if (Probe(port, " BOOTME") || Probe(port, "UBL")) {
      found = name;
      break;
    }
    port.Close();
  }
  if (!found.empty()) {
    std::cout << "\n\n" << std::flush;
    SetConsoleColour(kColourHighlight);
    std::cout << "Target: Detected at " << found << std::flush;
    SetConsoleColour(kColourNormal);
    std::cout << "\n\n" << std::flush;
    port.Close();
  }
  return found;
}
