// A run's hold on its serial port for the whole run. The steps open and close the port one by one,
// and between them (or while a retry question waits) the port is closed: without the claim another
// BrenloFix searching for a board would open it there, restart the board with its break and flash
// it. Claims are kept by name in the operating system (a named mutex on Windows, a locked file on
// POSIX), so they end with the process however it ends.
#pragma once

#include <memory>
#include <string>

class PortClaim {
 public:
  virtual ~PortClaim() = default;
};

// Claims the port for this process. False when another process holds a claim on it, and also when
// a claim is there that this process cannot even look at (a lock file of another user's that it may
// not open): a claim never fails open. Then *trouble, when given, gets a line in words that names
// what stands in the way (empty when it is simply another run's). A network serial server is claimed
// by the addresses its name resolves to and its port, so that a host name and its address are one
// claim. A claim the system cannot keep at all (no folder to lock in) is given as an empty one, so
// that runs are never stopped by it.
bool ClaimPort(const std::string& name, std::unique_ptr<PortClaim>* claim, std::string* trouble = nullptr);

// The name claims of a local port are kept under: the same port under two names ("COM3", "com3",
// "\\.\COM3"; a device and a link to it) gives the same key.
std::string PortClaimKey(const std::string& name);
