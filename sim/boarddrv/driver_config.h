// The simulated driver's set-up as the shim reads it from its environment:
//   SIM_BOARDDRV_DEVICES  "type:handle[:eeprom],..." (handles decimal or 0x...), "none" for no devices
//   SIM_BOARDDRV_FAULTS   "no-phxdrv,no-osaext,refuse-handshake,fail-ioctl,empty-reply,refuse-write=K,
//                          verify-differs,user-crc,defaults-crc,user-read-delay=MS"
#pragma once

#include <string>
#include <vector>

#include "sim/boarddrv/board_driver.h"

namespace simboard {

// False (with the offending word in *error) when the text does not parse.
bool ParseDevices(const std::string& text, std::vector<SimDevice>* devices, std::string* error);
bool ParseFaults(const std::string& text, DriverFaults* faults, std::string* error);

}  // namespace simboard
