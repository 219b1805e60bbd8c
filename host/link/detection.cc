#include "host/link/detection.h"

#include <iostream>

#include "host/link/log_file.h"
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

std::string DetectTarget(std::unique_ptr<PortClaim>* claim) {
  RS232 port;
  std::string found;
  std::unique_ptr<PortClaim> probing;
  for (const auto& entry : ListSerialPorts()) {
    const std::string& name = entry.second;
    // Between its steps another run has its port closed; its break would restart that board.
    std::string trouble;
    if (!ClaimPort(name, &probing, &trouble)) {
      for (const std::string& line :
           {"Port " + name + " is in use by another BrenloFix run; passed over.", trouble}) {
        if (line.empty()) continue;
        std::cout << line << std::endl;
        WriteLog(line + "\n");
      }
      continue;
    }
    // A port that will not open is passed over too; Open has said why.
    if (port.Open(name.c_str(), kPortSettings) && (Probe(port, " BOOTME") || Probe(port, "UBL"))) {
      found = name;
      break;
    }
    port.Close();
    probing.reset();
  }
  if (claim) *claim = std::move(probing);
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
