#include "device/eeprom/error_report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int reportVerbose = 0;
int libraryConnected = 0;

}  // namespace

void SetErrorReportVerbose(int verbose) { reportVerbose = verbose; }

void SetLibraryConnected() { libraryConnected = 1; }

void FormatErrorLine(PhxResult result, int connected, char* line, size_t lineSize) {
  char text[256];
  if (connected) {
    if (ResultCode2Str(0, result, sizeof text, text) < 0) strcpy(text, "Cannot translate this result code.");
  } else {
    strcpy(text, "Unknow error.");
  }
  const PhxResultSplit split = SplitPhxResult(result);
  snprintf(line, lineSize, "ERROR(%#lX [%d.%d]): %s \n", split.shownCode, static_cast<int>(split.facility),
           static_cast<int>(split.location), text);
}

void ExitOnError(PhxResult result) {
  if (result >= 0) return;
  if (reportVerbose) {
    char line[400];
    FormatErrorLine(result, libraryConnected, line, sizeof line);
    fputs(line, stderr);
  }
  exit(1);
}
