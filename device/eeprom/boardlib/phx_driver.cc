#include "device/eeprom/boardlib/phx_driver.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "device/eeprom/boardlib/osa_calls.h"
#include "device/eeprom/boardlib/record_fields.h"

namespace {

const char kOsaDriverFolder[] = "/proc/osadrivers/";
const unsigned int kLibraryVersion[4] = {2, 44, 1, 0};

// Every input record starts with a 16-byte head and every output record with an 8-byte head;
// the library leaves both zero. The result is the output record's last word.
const unsigned long kInHead = 16;
const unsigned long kOutHead = 8;

// Application event queues: the tool opens none, but connect and release own the table.
const int kEventQueueRows = 128;
struct AppEventQueueRow {
  int open;
  unsigned long eventHandle;
};

struct LibraryState {
  int driverFd;
  int extensionFd;
  AppEventQueueRow eventQueues[kEventQueueRows];
  pthread_mutex_t tableLock;
  bool tableLockCreated;  // a connect that failed before creating it leaves it out
};

// The library's one state per process.
LibraryState library = {-1, -1, {{0, 0}}, pthread_mutex_t(), false};

// The request pattern that every call shares: a failed ioctl and an empty answer have results of
// their own; otherwise the result is the output record's last word.
PhxResult SendRequest(unsigned long request, const unsigned char* in, unsigned long inLength, unsigned char* out,
                      unsigned long outLength) {
  unsigned long bytesReturned = 0;
  if (!DriverIoControl(library.driverFd, request, in, inLength, out, outLength, &bytesReturned)) {
    return PHX_ERROR_REQUEST_FAILED;
  }
  if (bytesReturned == 0) return PHX_ERROR_REQUEST_EMPTY;
  return static_cast<PhxResult>(GetLe32(out + outLength - 4));
}

void ClearEventQueues() {
  for (int i = 0; i < kEventQueueRows; ++i) {
    library.eventQueues[i].open = 0;
    library.eventQueues[i].eventHandle = 0;
  }
}

}  // namespace

int OpenOsaDriver(const char* name) {
  char path[128];
  snprintf(path, sizeof path, "%s%s", kOsaDriverFolder, name);
  int fd = CurrentOsaCalls().openEntry(path, O_RDWR);
  return fd <= 0 ? -1 : fd;  // descriptor 0 counts as a failure, as the driver's users expect
}

bool DriverIoControl(int fd, unsigned long request, const void* in, unsigned long inLength, void* out,
                     unsigned long outLength, unsigned long* bytesReturned) {
  IoctlDescriptor descriptor;
  descriptor.inAddress = reinterpret_cast<unsigned long>(in);
  descriptor.inLength = inLength;
  descriptor.outAddress = reinterpret_cast<unsigned long>(out);
  descriptor.outLength = outLength;
  descriptor.bytesReturned = 0;
  if (CurrentOsaCalls().ioControl(fd, request, &descriptor) != 0) return false;
  if (bytesReturned) *bytesReturned = descriptor.bytesReturned;
  return true;
}

PhxResult PhxDrvConnectLib() {
  if (library.driverFd != -1) return PHX_ERROR_ALREADY_CONNECTED;
  library.driverFd = OpenOsaDriver("PHXDRV");
  if (library.driverFd == -1) return PHX_ERROR_DRIVER_ENTRY;
  library.extensionFd = OpenOsaDriver("osaext");
  if (library.extensionFd == -1) return PHX_ERROR_EXTENSION_ENTRY;

  pthread_mutex_init(&library.tableLock, 0);
  library.tableLockCreated = true;
  pthread_mutex_lock(&library.tableLock);
  ClearEventQueues();
  pthread_mutex_unlock(&library.tableLock);

  unsigned char in[kInHead + 8] = {0};
  for (int i = 0; i < 4; ++i) PutLe16(in + kInHead + 2 * i, kLibraryVersion[i]);
  unsigned char out[kOutHead + 4] = {0};
  return SendRequest(PHX_REQUEST_HANDSHAKE, in, sizeof in, out, sizeof out);
}

PhxResult PhxDrvReleaseLib() {
  if (library.driverFd == -1) return PHX_WARNING_NOT_CONNECTED;
  // Queues still open at release are closed with the library: nothing waits on them any more.
  if (library.tableLockCreated) {
    pthread_mutex_lock(&library.tableLock);
    ClearEventQueues();
    pthread_mutex_unlock(&library.tableLock);
    pthread_mutex_destroy(&library.tableLock);
    library.tableLockCreated = false;
  }

  CurrentOsaCalls().closeEntry(library.driverFd);
  library.driverFd = -1;
  if (library.extensionFd != -1) {
    CurrentOsaCalls().closeEntry(library.extensionFd);
    library.extensionFd = -1;
  }
  return PHX_OK;
}

PhxResult PhxDrvGetNextDeviceType(unsigned long host, unsigned long* iterator, unsigned long* deviceType) {
  unsigned char in[kInHead + 8] = {0};
  PutLe32(in + kInHead, host);
  PutLe32(in + kInHead + 4, *iterator);
  unsigned char out[kOutHead + 12] = {0};
  PhxResult result = SendRequest(PHX_REQUEST_GET_NEXT_DEVICE_TYPE, in, sizeof in, out, sizeof out);
  *deviceType = GetLe32(out + kOutHead);
  *iterator = GetLe32(out + kOutHead + 4);
  return result;
}

PhxResult PhxDrvGetNextDevice(unsigned long host, unsigned long deviceType, unsigned long* iterator, long* device) {
  unsigned char in[kInHead + 12] = {0};
  PutLe32(in + kInHead, host);
  PutLe32(in + kInHead + 4, deviceType);
  PutLe32(in + kInHead + 8, *iterator);
  unsigned char out[kOutHead + 12] = {0};
  PhxResult result = SendRequest(PHX_REQUEST_GET_NEXT_DEVICE, in, sizeof in, out, sizeof out);
  *device = static_cast<long>(static_cast<int>(GetLe32(out + kOutHead)));
  *iterator = GetLe32(out + kOutHead + 4);
  return result;
}

PhxResult PhxDrvSendCommand(long device, unsigned long command) {
  unsigned char in[kInHead + 8] = {0};
  PutLe32(in + kInHead, static_cast<unsigned long>(device));
  PutLe32(in + kInHead + 4, command);
  unsigned char out[kOutHead + 4] = {0};
  return SendRequest(PHX_REQUEST_SEND_COMMAND, in, sizeof in, out, sizeof out);
}

PhxResult PhxDrvResultText(unsigned long handle, PhxResult result, unsigned long bufferSize, char* buffer) {
  unsigned char in[kInHead + 12 + kAddressFieldSize] = {0};
  PutLe32(in + kInHead, handle);
  PutLe32(in + kInHead + 4, static_cast<unsigned long>(static_cast<unsigned int>(result)));
  PutAddress(in + kInHead + 8, buffer);
  PutLe32(in + kInHead + 8 + kAddressFieldSize, bufferSize);
  unsigned char out[kOutHead + 4] = {0};
  return SendRequest(PHX_REQUEST_RESULT_TEXT, in, sizeof in, out, sizeof out);
}
