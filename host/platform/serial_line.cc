#include "host/platform/serial_line.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
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
  if (StartsWith(name, kRfc2217Scheme)) return OpenRfc2217SerialLine(name, error);
  return OpenPlatformSerialLine(name, error);
}

std::string WindowsDevicePath(const std::string& name) {
  const bool com = name.size() > 3 && (name[0] == 'C' || name[0] == 'c') &&
                   (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm');
  if (!com || name.size() > 12) return name;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return name;
  }
  if (std::strtoul(name.c_str() + 3, nullptr, 10) < 10) return name;
  return "\\\\.\\" + name;
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

bool IsRegisteredSerialLine(const std::string& name) {
  for (const RegisteredOpener& entry : Openers()) {
    if (StartsWith(name, entry.prefix)) return true;
  }
  return false;
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
