#include "host/platform/port_list.h"

#include <cctype>
#include <cstdlib>

#include "host/platform/port_list_names.h"

// The platform's own listing, in port_list_win32.cc or port_list_posix.cc.
PortMap ListPlatformSerialPorts();

namespace {

PortLister installedLister = nullptr;

}  // namespace

PortMap ListSerialPorts() { return installedLister ? installedLister() : ListPlatformSerialPorts(); }

void SetPortLister(PortLister lister) { installedLister = lister; }

bool ParseComPortName(const std::string& data, uint32_t* number) {
  if (data.size() < 4 || data.size() > 13 || data.compare(0, 3, "COM") != 0) return false;
  for (size_t i = 3; i < data.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(data[i]))) return false;
  }
  const unsigned long long value = std::strtoull(data.c_str() + 3, nullptr, 10);
  if (value > 0xFFFFFFFFull) return false;
  *number = static_cast<uint32_t>(value);
  return true;
}

void AddComPort(const std::string& data, PortMap* ports) {
  uint32_t number = 0;
  if (ParseComPortName(data, &number)) ports->emplace(number, data);
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (digitA && digitB) {
      size_t endA = i;
      size_t endB = j;
      while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
      while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
      // Compare the numbers by value: strip leading zeros, then longer is larger.
      size_t startA = i;
      size_t startB = j;
      while (startA + 1 < endA && a[startA] == '0') ++startA;
      while (startB + 1 < endB && b[startB] == '0') ++startB;
      const std::string numberA = a.substr(startA, endA - startA);
      const std::string numberB = b.substr(startB, endB - startB);
      if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
      if (numberA != numberB) return numberA < numberB;
      i = endA;
      j = endB;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // "ttyS01" and "ttyS1": any fixed order
}
