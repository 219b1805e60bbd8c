#include "sim/boarddrv/driver_config.h"

#include <cstdlib>
#include <sstream>

namespace simboard {
namespace {

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 0);
  return *end == '\0';
}

}  // namespace

bool ParseDevices(const std::string& text, std::vector<SimDevice>* devices, std::string* error) {
  devices->clear();
  if (text == "none") return true;
  for (const std::string& item : SplitOn(text, ',')) {
    const std::vector<std::string> fields = SplitOn(item, ':');
    long long type = 0;
    long long handle = 0;
    if (fields.size() < 2 || fields.size() > 3 || !ParseNumber(fields[0], &type) ||
        !ParseNumber(fields[1], &handle) || (fields.size() == 3 && fields[2] != "eeprom")) {
      *error = item;
      return false;
    }
    devices->push_back({static_cast<uint32_t>(type), static_cast<int32_t>(handle), fields.size() == 3});
  }
  return true;
}

bool ParseFaults(const std::string& text, DriverFaults* faults, std::string* error) {
  for (const std::string& item : SplitOn(text, ',')) {
    const size_t equals = item.find('=');
    const std::string name = item.substr(0, equals);
    long long number = 0;
    const bool hasNumber = equals != std::string::npos && ParseNumber(item.substr(equals + 1), &number);
    if (name == "no-phxdrv") {
      faults->noDriverEntry = true;
    } else if (name == "no-osaext") {
      faults->noExtensionEntry = true;
    } else if (name == "refuse-handshake") {
      faults->refuseHandshake = true;
    } else if (name == "fail-ioctl") {
      faults->failIoctl = true;
    } else if (name == "empty-reply") {
      faults->emptyReply = true;
    } else if (name == "refuse-write" && hasNumber) {
      faults->refuseWriteAt = number;
    } else if (name == "verify-differs") {
      faults->verifyDiffers = true;
    } else if (name == "user-crc") {
      faults->damagedUserCrc = true;
    } else if (name == "defaults-crc") {
      faults->damagedDefaultsCrc = true;
    } else if (name == "user-read-delay" && hasNumber) {
      faults->userReadDelayMs = static_cast<int>(number);
    } else {
      *error = item;
      return false;
    }
  }
  return true;
}

}  // namespace simboard
