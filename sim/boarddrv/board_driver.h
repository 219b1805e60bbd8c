// The simulated board driver: the entries "PHXDRV" and "osaext" under /proc/osadrivers/ and the
// ioctl requests 0xC0044F00 + n, written from the driver's side. Every request is checked the way a
// strict driver would: request number, descriptor, record lengths, library version, handles.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/boarddrv/eeprom_store.h"

namespace simboard {

struct SimDevice {
  uint32_t type;
  int32_t handle;
  bool eeprom;  // carries the variable EEPROM
};

// Fault switches; all off is a healthy board.
struct DriverFaults {
  bool noDriverEntry = false;      // "/proc/osadrivers/PHXDRV" missing
  bool noExtensionEntry = false;   // "/proc/osadrivers/osaext" missing
  bool driverEntryFdZero = false;  // PHXDRV opens as descriptor 0 (seam only)
  bool refuseHandshake = false;    // request 0x64 refused
  bool failIoctl = false;          // every request's ioctl fails
  bool emptyReply = false;         // every request answers with 0 bytes returned
  int64_t refuseWriteAt = -1;      // the write of user-area word k is refused
  bool verifyDiffers = false;      // word reads answer with bit 0 flipped
  bool damagedUserCrc = false;     // "/proc/eeprom/userspace" yields a wrong CRC field
  bool damagedDefaultsCrc = false; // "/proc/eeprom/defaults" yields a wrong CRC field
  int userReadDelayMs = 0;         // opening the user layer file takes this long
};

// The board's driver results (facility 8).
constexpr uint32_t kNoMoreDevices = 0x8402650Du;    // 613
constexpr uint32_t kIteratorOutOfBounds = 0x84028F0Bu;  // 655
constexpr uint32_t kInvalidHandle = 0x8402BC0Bu;    // 700
constexpr uint32_t kVersionRefused = 0x8402BD11u;   // 701
constexpr uint32_t kWordRefused = 0x8402BE0Du;      // 702
constexpr uint32_t kAddressOutOfRange = 0x8402BF0Bu;  // 703
constexpr uint32_t kUnknownCommand = 0x8402C006u;   // 704

// Three plain devices, the EEPROM carrier of type 70 behind a device of type 71 that is not one.
std::vector<SimDevice> DefaultDevices();

// One command a device received through request 0x10.
struct DeviceCommand {
  int32_t device;
  uint32_t word;
  uint32_t result;
};

class SimBoardDriver {
 public:
  SimBoardDriver(WordStore& store, std::vector<SimDevice> devices, DriverFaults faults);

  DriverFaults& faults() { return faults_; }
  WordStore& store() { return store_; }

  // Whether the entry under /proc/osadrivers/ opens.
  bool EntryPresent(const std::string& name) const;

  // One ioctl on the "PHXDRV" entry, as the kernel answers it: 0, or -1 with errno set.
  int Ioctl(unsigned long request, void* argument);

  // The files the kernel's EEPROM driver offers.
  std::vector<uint8_t> UserLayerFile() const;
  std::vector<uint8_t> DefaultsFile() const;

  const std::vector<DeviceCommand>& commands() const { return commands_; }
  int handshakes() const { return handshakes_; }

  // Told one line per request ("command 0x120 0x20000ffd -> 0x0"); the shim writes them to a file.
  void SetRequestListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

 private:
  uint32_t Handshake(const uint8_t* in);
  uint32_t NextDeviceType(const uint8_t* in, uint8_t* out);
  uint32_t NextDevice(const uint8_t* in, uint8_t* out);
  uint32_t Command(const uint8_t* in);
  uint32_t ResultText(const uint8_t* in);
  uint32_t EepromCommand(uint32_t word);
  std::vector<uint32_t> DeviceTypes() const;
  const SimDevice* FindDevice(int32_t handle) const;
  void Tell(const std::string& line);

  WordStore& store_;
  std::vector<SimDevice> devices_;
  DriverFaults faults_;
  int64_t selected_ = -1;  // the EEPROM word address selected by 0x0FFD
  int handshakes_ = 0;
  std::vector<DeviceCommand> commands_;
  std::function<void(const std::string&)> listener_;
};

}  // namespace simboard
