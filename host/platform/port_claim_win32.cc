#include <windows.h>

#include <cctype>

#include "host/platform/port_claim.h"
#include "host/platform/system_error.h"

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

bool ClaimPlatformKey(const std::string& key, std::unique_ptr<PortClaim>* claim, std::string* trouble) {
  // The port belongs to the PC, not to one session: the claim is in the global namespace.
  const std::string object = "Global\\BrenloFix.port." + key;
  HANDLE handle = CreateMutexA(nullptr, FALSE, object.c_str());
  const DWORD error = GetLastError();
  if (handle && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    return false;
  }
  if (!handle) {
    // Another user's claim is there and not ours to open: it counts as held. Anything else leaves
    // the run unclaimed.
    if (error == ERROR_ACCESS_DENIED) {
      *trouble = "The claim " + object + " cannot be opened (" + SystemErrorText(static_cast<int>(error)) +
                 "); it belongs to another user's BrenloFix run.";
      return false;
    }
    claim->reset(new PortClaim());
    return true;
  }
  claim->reset(new NamedMutex(handle));
  return true;
}
