#include "sim/boarddrv/board_driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace simboard {
namespace {

constexpr unsigned long kRequestBase = 0xC0044F00ul;
constexpr size_t kInHead = 16;
constexpr size_t kOutHead = 8;
constexpr size_t kAddressSize = sizeof(void*);  // a user address: one 32-bit word on the board

struct Descriptor {
  unsigned long inAddress, inLength, outAddress, outLength, bytesReturned;
};

uint32_t Le32(const uint8_t* at) { return at[0] | (at[1] << 8) | (at[2] << 16) | (uint32_t{at[3]} << 24); }

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t LeAddress(const uint8_t* at) {
  uint64_t value = 0;
  for (size_t i = 0; i < kAddressSize; ++i) value |= uint64_t{at[i]} << (8 * i);
  return value;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

}  // namespace

std::vector<SimDevice> DefaultDevices() {
  return {{3, 0x100, false}, {12, 0x110, false}, {12, 0x111, false}, {70, 0x120, true}, {71, 0x130, false}};
}

SimBoardDriver::SimBoardDriver(WordStore& store, std::vector<SimDevice> devices, DriverFaults faults)
    : store_(store), devices_(std::move(devices)), faults_(faults) {}

bool SimBoardDriver::EntryPresent(const std::string& name) const {
  if (name == "PHXDRV") return !faults_.noDriverEntry;
  if (name == "osaext") return !faults_.noExtensionEntry;
  return false;
}

int SimBoardDriver::Ioctl(unsigned long request, void* argument) {
  if (faults_.failIoctl || argument == nullptr) {
    Tell("ioctl " + Hex(static_cast<uint32_t>(request)) + " failed");
    errno = EIO;
    return -1;
  }
  Descriptor descriptor;
  std::memcpy(&descriptor, argument, sizeof descriptor);
  const uint32_t number = static_cast<uint32_t>(request - kRequestBase);

  // The record lengths each request must carry, heads included.
  size_t inLength = 0;
  size_t outLength = 0;
  switch (request) {
    case kRequestBase + 0x64: inLength = 24; outLength = 12; break;
    case kRequestBase + 0x00: inLength = 24; outLength = 20; break;
    case kRequestBase + 0x01: inLength = 28; outLength = 20; break;
    case kRequestBase + 0x10: inLength = 24; outLength = 12; break;
    case kRequestBase + 0x11: inLength = 28 + kAddressSize; outLength = 12; break;
    default:
      Tell("unknown request " + Hex(static_cast<uint32_t>(request)));
      errno = ENOTTY;
      return -1;
  }
  if (descriptor.inLength != inLength || descriptor.outLength != outLength || descriptor.inAddress == 0 ||
      descriptor.outAddress == 0) {
    Tell("request " + Hex(number) + " with bad record lengths " + std::to_string(descriptor.inLength) + "/" +
         std::to_string(descriptor.outLength));
    errno = EINVAL;
    return -1;
  }
  const uint8_t* in = reinterpret_cast<const uint8_t*>(descriptor.inAddress);
  uint8_t* out = reinterpret_cast<uint8_t*>(descriptor.outAddress);
  uint8_t reply[20] = {0};

  uint32_t result = 0;
  switch (number) {
    case 0x64: result = Handshake(in); break;
    case 0x00: result = NextDeviceType(in, reply); break;
    case 0x01: result = NextDevice(in, reply); break;
    case 0x10: result = Command(in); break;
    case 0x11: result = ResultText(in); break;
  }
  PutLe32(reply + outLength - 4, result);
  std::memcpy(out, reply, outLength);
  descriptor.bytesReturned = faults_.emptyReply ? 0 : outLength;
  std::memcpy(argument, &descriptor, sizeof descriptor);
  return 0;
}

uint32_t SimBoardDriver::Handshake(const uint8_t* in) {
  const uint8_t* v = in + kInHead;
  const unsigned major = v[0] | (v[1] << 8), minor = v[2] | (v[3] << 8), patch = v[4] | (v[5] << 8),
                 build = v[6] | (v[7] << 8);
  ++handshakes_;
  const bool accepted = !faults_.refuseHandshake && major == 2 && minor == 44 && patch == 1 && build == 0;
  const uint32_t result = accepted ? 0 : kVersionRefused;
  Tell("handshake " + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + "." +
       std::to_string(build) + " -> " + Hex(result));
  return result;
}

std::vector<uint32_t> SimBoardDriver::DeviceTypes() const {
  std::vector<uint32_t> types;
  for (const SimDevice& device : devices_) {
    bool seen = false;
    for (uint32_t type : types) seen = seen || type == device.type;
    if (!seen) types.push_back(device.type);
  }
  return types;
}

uint32_t SimBoardDriver::NextDeviceType(const uint8_t* in, uint8_t* out) {
  const uint32_t host = Le32(in + kInHead);
  const uint32_t iterator = Le32(in + kInHead + 4);
  const std::vector<uint32_t> types = DeviceTypes();
  uint32_t result = 0;
  if (host != 0) {
    result = kInvalidHandle;
  } else if (iterator >= types.size()) {
    result = kIteratorOutOfBounds;
  } else {
    PutLe32(out + kOutHead, types[iterator]);
    PutLe32(out + kOutHead + 4, iterator + 1);
  }
  Tell("type " + std::to_string(iterator) + " -> " + Hex(result));
  return result;
}

uint32_t SimBoardDriver::NextDevice(const uint8_t* in, uint8_t* out) {
  const uint32_t host = Le32(in + kInHead);
  const uint32_t type = Le32(in + kInHead + 4);
  const uint32_t iterator = Le32(in + kInHead + 8);
  uint32_t result = kNoMoreDevices;
  if (host != 0) {
    result = kInvalidHandle;
  } else {
    uint32_t index = 0;  // the iterator counts the devices of this type
    for (const SimDevice& device : devices_) {
      if (device.type != type) continue;
      if (index++ == iterator) {
        PutLe32(out + kOutHead, static_cast<uint32_t>(device.handle));
        PutLe32(out + kOutHead + 4, iterator + 1);
        result = 0;
        break;
      }
    }
  }
  Tell("device " + std::to_string(type) + " " + std::to_string(iterator) + " -> " + Hex(result));
  return result;
}

const SimDevice* SimBoardDriver::FindDevice(int32_t handle) const {
  for (const SimDevice& device : devices_) {
    if (device.handle == handle) return &device;
  }
  return nullptr;
}

uint32_t SimBoardDriver::Command(const uint8_t* in) {
  const int32_t handle = static_cast<int32_t>(Le32(in + kInHead));
  const uint32_t word = Le32(in + kInHead + 4);
  const SimDevice* device = FindDevice(handle);
  uint32_t result = 0;
  if (device == nullptr) {
    result = kInvalidHandle;
  } else if (!device->eeprom) {
    result = kUnknownCommand;
  } else {
    result = EepromCommand(word);
  }
  commands_.push_back({handle, word, result});
  Tell("command " + Hex(static_cast<uint32_t>(handle)) + " " + Hex(word) + " -> " + Hex(result));
  return result;
}

uint32_t SimBoardDriver::EepromCommand(uint32_t word) {
  const uint32_t selector = word & 0xFFFF;
  const uint32_t operand = word >> 16;
  switch (selector) {
    case 0x0FFD:
      if (operand >= kEepromWords) {
        selected_ = -1;
        return kAddressOutOfRange;
      }
      selected_ = operand;
      return 0;
    case 0x0FFF:
      if (selected_ < 0) return kAddressOutOfRange;
      if (faults_.refuseWriteAt >= 0 && selected_ == kUserAreaStart + faults_.refuseWriteAt) return kWordRefused;
      store_.Write(static_cast<uint32_t>(selected_), static_cast<uint16_t>(operand));
      return 0;
    case 0x0FFE:
      if (operand != 0) return kUnknownCommand;
      if (selected_ < 0) return kAddressOutOfRange;
      return store_.Read(static_cast<uint32_t>(selected_)) ^ (faults_.verifyDiffers ? 1u : 0u);
    default:
      return kUnknownCommand;
  }
}

uint32_t SimBoardDriver::ResultText(const uint8_t* in) {
  const int32_t handle = static_cast<int32_t>(Le32(in + kInHead));
  const uint32_t code = Le32(in + kInHead + 4);
  char* buffer = reinterpret_cast<char*>(LeAddress(in + kInHead + 8));
  const uint32_t size = Le32(in + kInHead + 8 + kAddressSize);
  uint32_t result = 0;
  if (FindDevice(handle) == nullptr) {
    result = kInvalidHandle;
  } else if (buffer == nullptr || size == 0) {
    result = 0x8402F709u;  // 759: the buffer is too small
  } else {
    std::snprintf(buffer, size, "Board driver result 0x%08X", code);
  }
  Tell("text " + Hex(code) + " -> " + Hex(result));
  return result;
}

std::vector<uint8_t> SimBoardDriver::UserLayerFile() const {
  std::vector<uint8_t> bytes = UserLayerImage(store_);
  if (faults_.damagedUserCrc && bytes.size() >= 8) bytes[4] ^= 0x01;
  return bytes;
}

std::vector<uint8_t> SimBoardDriver::DefaultsFile() const {
  std::vector<uint8_t> bytes = FactoryImage();
  if (faults_.damagedDefaultsCrc) bytes[4] ^= 0x01;
  return bytes;
}

void SimBoardDriver::Tell(const std::string& line) {
  if (listener_) listener_(line);
}

}  // namespace simboard
