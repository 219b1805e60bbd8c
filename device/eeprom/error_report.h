// The tool's one error reporter: every step's PhxResult goes through ExitOnError, which ends the
// run with status 1 on a failure.
#ifndef DEVICE_EEPROM_ERROR_REPORT_H_
#define DEVICE_EEPROM_ERROR_REPORT_H_

#include <stddef.h>

#include "device/eeprom/boardlib/phx_result.h"

// With verbose the error line is printed before the run ends.
void SetErrorReportVerbose(int verbose);

// Set just before the board library connection is attempted: from then on results are
// translated through the result code table.
void SetLibraryConnected();

// The error line for a result: "ERROR(%#lX [%d.%d]): %s \n".
void FormatErrorLine(PhxResult result, int libraryConnected, char* line, size_t lineSize);

// Returns when the result is not negative; otherwise reports it and ends the program with status 1.
void ExitOnError(PhxResult result);

#endif  // DEVICE_EEPROM_ERROR_REPORT_H_
