// PhxResult: the 32-bit result of every board library call and of the tool's own steps.
//   bit 31      failure bit (the value is negative)
//   bits 30-23  facility (nFacility), 0 is PHX_FACILITY_UNKNOWN
//   bits 22-8   location of the site within its facility
//   bits 7-0    generic code
#ifndef DEVICE_EEPROM_BOARDLIB_PHX_RESULT_H_
#define DEVICE_EEPROM_BOARDLIB_PHX_RESULT_H_

typedef int PhxResult;

// Results the library itself gives on the tool's path.
const PhxResult PHX_OK = 0;
const PhxResult PHX_ERROR_CALL_FAILED = static_cast<PhxResult>(0x8000000Du);          // tool's store reader
const PhxResult PHX_ERROR_REQUEST_FAILED = static_cast<PhxResult>(0xC300AA0Du);       // ioctl failed
const PhxResult PHX_ERROR_REQUEST_EMPTY = static_cast<PhxResult>(0xC300AD0Du);        // 0 bytes returned
const PhxResult PHX_ERROR_ALREADY_CONNECTED = static_cast<PhxResult>(0xB500F30Du);
const PhxResult PHX_ERROR_DRIVER_ENTRY = static_cast<PhxResult>(0xB501000Bu);         // "PHXDRV"
const PhxResult PHX_ERROR_EXTENSION_ENTRY = static_cast<PhxResult>(0xB501080Bu);      // "osaext"
const PhxResult PHX_WARNING_NOT_CONNECTED = static_cast<PhxResult>(0x3501E416u);      // not a failure

const unsigned int PHX_FACILITY_UNKNOWN = 0;

unsigned int PhxFacility(PhxResult result);
unsigned int PhxLocation(PhxResult result);
unsigned int PhxGenericCode(PhxResult result);
int PhxIsFailure(PhxResult result);
int PhxIsSuccess(PhxResult result);

// The code as the error line shows it: the generic code alone when it is 30 or more, otherwise
// the failure bit and the generic code.
unsigned long PhxShownCode(PhxResult result);

// The result taken apart for the error line.
struct PhxResultSplit {
  unsigned long shownCode;
  int failure;
  unsigned int facility;
  unsigned int location;
};
PhxResultSplit SplitPhxResult(PhxResult result);

// Turns a result into a sentence. Handle 0 looks the result up in the program's own table and
// gives 0 when a row was found, 1 otherwise (the buffer then holds the fallback sentence); any
// other handle asks the driver (request 0x11) and gives that request's result. bufferSize must
// not be 0.
PhxResult ResultCode2Str(unsigned long handle, PhxResult result, unsigned long bufferSize, char* buffer);

#endif  // DEVICE_EEPROM_BOARDLIB_PHX_RESULT_H_
