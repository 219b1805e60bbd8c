#include "host/platform/port_claim.h"

#include "host/platform/serial_line.h"

// The claim the system keeps, in port_claim_posix.cc or port_claim_win32.cc.
bool ClaimPlatformPort(const std::string& name, std::unique_ptr<PortClaim>* claim);

bool ClaimPort(const std::string& name, std::unique_ptr<PortClaim>* claim) {
  // A line served inside this process (the tests' simulated boards) is no other program's to take.
  if (IsRegisteredSerialLine(name)) {
    claim->reset(new PortClaim());
    return true;
  }
  return ClaimPlatformPort(name, claim);
}
