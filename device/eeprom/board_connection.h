// The tool's way into the board library: connect, then find the device that carries the EEPROM.
#ifndef DEVICE_EEPROM_BOARD_CONNECTION_H_
#define DEVICE_EEPROM_BOARD_CONNECTION_H_

#include "device/eeprom/boardlib/phx_result.h"

// The first device of a type from 69 to 72 in enumeration order: 0 and its handle, or 1 and -1.
PhxResult FindEepromDevice(long* device);

// Connects the library and finds the EEPROM device; ends the run through ExitOnError when the
// connection fails. A missing device is not an error here: the first word access then fails with
// the driver's answer for handle -1.
void ConnectBoardLibrary(int verbose, long* eepromDevice);

#endif  // DEVICE_EEPROM_BOARD_CONNECTION_H_
