#include "device/eeprom/boardlib/result_code_table.h"

// Keys are written out so that the order can be read off the table; a unit test checks that every
// key matches its facility and location and that the keys strictly ascend.
const ResultCodeRow kResultCodeTable[] = {
    // Facility 8: the board driver.
    {0x04026500u, 8, 613, "Can't find any more devices of this device type"},
    {0x04028F00u, 8, 655, "Iterator is out of bounds"},
    {0x0402BC00u, 8, 700, "The device handle is not valid for this request"},
    {0x0402BD00u, 8, 701, "The driver does not support this library version"},
    {0x0402BE00u, 8, 702, "The EEPROM did not accept the word"},
    {0x0402BF00u, 8, 703, "The EEPROM word address is out of range"},
    {0x0402C000u, 8, 704, "The device does not support this command"},
    {0x0402F700u, 8, 759, "The supplied string buffer is too small for this error string"},
    {0x0402FD00u, 8, 765, "ResultCode2Str() function failed"},
    {0x04045300u, 8, 1107, "nFacility != PHX_FACILITY_UNKNOWN"},
    {0x04045B00u, 8, 1115, "The nCode is out of bounds for the Result Code String lookup table"},
    // Facility 106: the user-space library.
    {0x3500F300u, 106, 243, "The library is already connected to the board driver"},
    {0x35010000u, 106, 256, "Cannot open the board driver entry /proc/osadrivers/PHXDRV"},
    {0x35010800u, 106, 264, "Cannot open the driver extension entry /proc/osadrivers/osaext"},
    {0x3501E400u, 106, 484, "The library is not connected to the board driver"},
    // Facility 134: the request mechanism.
    {0x4300AA00u, 134, 170, "The request to the board driver failed"},
    {0x4300AD00u, 134, 173, "The board driver returned no data for the request"},
    // Facilities 200 and 201: board identification.
    {0x64008800u, 200, 136, "Incorrect address"},
    {0x64806600u, 201, 102, "Unsupported product ID"},
    {0x64807200u, 201, 114, "Unsupported product version (SubSystem ID)"},
};

const unsigned int kResultCodeCount = sizeof(kResultCodeTable) / sizeof(kResultCodeTable[0]);
