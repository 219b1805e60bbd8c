// The board hardware library ("libPhxHw.a" 2.44.1.0), the part that uboot-eeprom uses: the
// connection to the board driver through its entries under /proc/osadrivers/, the request
// mechanism shared by every call, device enumeration and device commands.
#ifndef DEVICE_EEPROM_BOARDLIB_PHX_DRIVER_H_
#define DEVICE_EEPROM_BOARDLIB_PHX_DRIVER_H_

#include "device/eeprom/boardlib/phx_result.h"

// Request n is ioctl number 0xC0044F00 + n (read and write, type 'O', argument: the address of
// the descriptor).
const unsigned long PHX_REQUEST_BASE = 0xC0044F00ul;
const unsigned long PHX_REQUEST_GET_NEXT_DEVICE_TYPE = PHX_REQUEST_BASE + 0x00;
const unsigned long PHX_REQUEST_GET_NEXT_DEVICE = PHX_REQUEST_BASE + 0x01;
const unsigned long PHX_REQUEST_SEND_COMMAND = PHX_REQUEST_BASE + 0x10;
const unsigned long PHX_REQUEST_RESULT_TEXT = PHX_REQUEST_BASE + 0x11;
const unsigned long PHX_REQUEST_HANDSHAKE = PHX_REQUEST_BASE + 0x64;

// The argument of every request. Each word is as wide as an address: five 32-bit words on the
// board.
struct IoctlDescriptor {
  unsigned long inAddress;
  unsigned long inLength;
  unsigned long outAddress;
  unsigned long outLength;
  unsigned long bytesReturned;  // written by the driver
};

// Opens "/proc/osadrivers/" + name read-write; -1 when that fails or gives descriptor 0.
int OpenOsaDriver(const char* name);

// One ioctl with a filled descriptor. True when ioctl returned 0; then the driver's bytes-returned
// count goes to *bytesReturned (when given).
bool DriverIoControl(int fd, unsigned long request, const void* in, unsigned long inLength, void* out,
                     unsigned long outLength, unsigned long* bytesReturned);

PhxResult PhxDrvConnectLib();
PhxResult PhxDrvReleaseLib();
PhxResult PhxDrvGetNextDeviceType(unsigned long host, unsigned long* iterator, unsigned long* deviceType);
// Device handles are 32-bit signed words; -1 is no device.
PhxResult PhxDrvGetNextDevice(unsigned long host, unsigned long deviceType, unsigned long* iterator, long* device);
PhxResult PhxDrvSendCommand(long device, unsigned long command);

// The driver's own translation of a result into text (request 0x11), for ResultCode2Str.
PhxResult PhxDrvResultText(unsigned long handle, PhxResult result, unsigned long bufferSize, char* buffer);

#endif  // DEVICE_EEPROM_BOARDLIB_PHX_DRIVER_H_
