#include "device/eeprom/board_connection.h"

#include <stdio.h>

#include "device/eeprom/boardlib/phx_driver.h"
#include "device/eeprom/error_report.h"

namespace {

const unsigned long kFirstEepromType = 69;
const unsigned long kLastEepromType = 72;

}  // namespace

PhxResult FindEepromDevice(long* device) {
  *device = -1;
  unsigned long typeIterator = 0;
  unsigned long type = 0;
  while (PhxDrvGetNextDeviceType(0, &typeIterator, &type) >= 0) {
    unsigned long deviceIterator = 0;
    long handle = -1;
    while (PhxDrvGetNextDevice(0, type, &deviceIterator, &handle) >= 0) {
      if (handle != -1 && type >= kFirstEepromType && type <= kLastEepromType) {
        *device = handle;
        return 0;
      }
    }
  }
  return 1;
}

void ConnectBoardLibrary(int verbose, long* eepromDevice) {
  if (verbose) printf("Connecting lib... ");
  SetLibraryConnected();
  ExitOnError(PhxDrvConnectLib());
  if (verbose) printf("Lib connected ok\n");
  ExitOnError(FindEepromDevice(eepromDevice));
}
