#include <windows.h>

#include <cctype>

#include "host/platform/port_claim.h"

namespace {

class NamedMutex : public PortClaim {
 public:
  explicit NamedMutex(HANDLE handle) : handle_(handle) {}
  ~NamedMutex() override { CloseHandle(handle_); }
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

 private:
  HANDLE handle_;
};

}  // namespace

std::string PortClaimKey(const std::string& name) {
  std::string bare = name.compare(0, 4, "\\\\.\\") == 0 ? name.substr(4) : name;
  std::string key;
  for (char c : bare) key += c == '\\' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

bool ClaimPlatformPort(const std::string& name, std::unique_ptr<PortClaim>* claim) {
  // The port belongs to the PC, not to one session: the claim is in the global namespace.
  const std::string object = "Global\\BrenloFix.port." + PortClaimKey(name);
  HANDLE handle = CreateMutexA(nullptr, FALSE, object.c_str());
  const DWORD error = GetLastError();
  if (handle && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    return false;
  }
  if (!handle) {
    // Another user's claim is there and not ours to open; anything else leaves the run unclaimed.
    if (error == ERROR_ACCESS_DENIED) return false;
    claim->reset(new PortClaim());
    return true;
  }
  claim->reset(new NamedMutex(handle));
  return true;
}
