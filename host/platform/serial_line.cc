#include "host/platform/serial_line.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "host/platform/clock.h"
#include "host/platform/serial_line_backends.h"

namespace {

struct RegisteredOpener {
  std::string prefix;
  SerialLineOpener opener;
};

// Lines that tests provide, looked up before the real backends.
std::vector<RegisteredOpener>& Openers() {
  static std::vector<RegisteredOpener> openers;
  return openers;
}

DrainingLine* pumpOwner = nullptr;

void PumpOwner(void* context, uint32_t msLeft) { static_cast<DrainingLine*>(context)->Drain(msLeft); }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::unique_ptr<SerialLine> OpenSerialLine(const std::string& name, int* error) {
  int ignored = 0;
  if (!error) error = &ignored;
  *error = 0;
  for (const RegisteredOpener& entry : Openers()) {
    if (StartsWith(name, entry.prefix)) return entry.opener(name, error);
  }
  return OpenPlatformSerialLine(name, error);
}

void RegisterSerialLineOpener(const std::string& prefix, SerialLineOpener opener) {
  UnregisterSerialLineOpener(prefix);
  Openers().push_back(RegisteredOpener{prefix, std::move(opener)});
}

void UnregisterSerialLineOpener(const std::string& prefix) {
  auto& openers = Openers();
  for (auto it = openers.begin(); it != openers.end(); ++it) {
    if (it->prefix == prefix) {
      openers.erase(it);
      return;
    }
  }
}

void InstallDrainPump(DrainingLine* line) {
  pumpOwner = line;
  SetSleepPump(&PumpOwner, line);
}

void RemoveDrainPump(DrainingLine* line) {
  if (pumpOwner != line) return;
  pumpOwner = nullptr;
  SetSleepPump(nullptr, nullptr);
}
