#include "device/eeprom/boardlib/phx_result.h"

#include <string.h>

#include "device/eeprom/boardlib/phx_driver.h"
#include "device/eeprom/boardlib/result_code_table.h"

namespace {

const char kNoDescription[] = "A descriptive error string is not available for this return code";

unsigned int Bits(PhxResult result) { return static_cast<unsigned int>(result); }

// Copies at most bufferSize - 1 bytes; the buffer's last byte is already NUL.
void CopyText(const char* text, unsigned long bufferSize, char* buffer) { strncpy(buffer, text, bufferSize - 1); }

}  // namespace

unsigned int PhxFacility(PhxResult result) { return (Bits(result) >> 23) & 0xFFu; }
unsigned int PhxLocation(PhxResult result) { return (Bits(result) >> 8) & 0x7FFFu; }
unsigned int PhxGenericCode(PhxResult result) { return Bits(result) & 0xFFu; }
int PhxIsFailure(PhxResult result) { return static_cast<int>(Bits(result) >> 31); }
int PhxIsSuccess(PhxResult result) { return PhxIsFailure(result) ? 0 : 1; }

unsigned long PhxShownCode(PhxResult result) {
  if (PhxGenericCode(result) >= 30) return PhxGenericCode(result);
  return Bits(result) & 0x800000FFu;
}

PhxResultSplit SplitPhxResult(PhxResult result) {
  PhxResultSplit split;
  split.shownCode = PhxShownCode(result);
  split.failure = PhxIsFailure(result);
  split.facility = PhxFacility(result);
  split.location = PhxLocation(result);
  return split;
}

PhxResult ResultCode2Str(unsigned long handle, PhxResult result, unsigned long bufferSize, char* buffer) {
  if (handle != 0) return PhxDrvResultText(handle, result, bufferSize, buffer);

  buffer[bufferSize - 1] = '\0';
  CopyText(kNoDescription, bufferSize, buffer);
  if (PhxFacility(result) == PHX_FACILITY_UNKNOWN || PhxLocation(result) == 0) return 1;

  const unsigned int key = Bits(result) & 0x7FFFFF00u;
  long low = 0;
  long high = static_cast<long>(kResultCodeCount) - 1;
  while (low <= high) {
    const long middle = low + (high - low) / 2;
    const ResultCodeRow& row = kResultCodeTable[middle];
    if (row.key == key) {
      CopyText(row.text, bufferSize, buffer);
      return 0;
    }
    if (row.key > key) {
      high = middle - 1;
    } else {
      low = middle + 1;
    }
  }
  return 1;
}
