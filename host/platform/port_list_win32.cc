#include <windows.h>

#include <vector>

#include "host/platform/port_list_names.h"

namespace {

// Owns one open registry key.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

constexpr DWORD kValueNameCapacity = 255;

}  // namespace

// The ports Windows publishes: one value a port under HARDWARE\DEVICEMAP\SERIALCOMM, its data the
// port name. Any failure yields what was gathered so far.
PortMap ListPlatformSerialPorts() {
  PortMap ports;
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
    return ports;
  }
  char keyClass[260];
  DWORD keyClassLength = sizeof keyClass;
  DWORD valueCount = 0;
  DWORD longestData = 0;
  if (RegQueryInfoKeyA(key.get(), keyClass, &keyClassLength, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    return ports;
  }
  std::vector<BYTE> data(longestData + 1);
  for (DWORD index = 0; index < valueCount; ++index) {
    char name[kValueNameCapacity + 1];
    DWORD nameLength = kValueNameCapacity;
    DWORD dataLength = longestData;
    DWORD type = 0;
    if (RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data.data(), &dataLength) != ERROR_SUCCESS) {
      continue;
    }
    // The data may or may not carry its terminator.
    std::string text(reinterpret_cast<const char*>(data.data()), dataLength);
    text = text.substr(0, text.find('\0'));
    AddComPort(text, &ports);
  }
  return ports;
}
