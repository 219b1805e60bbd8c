// uboot-eeprom: reads and changes the boot-loader variables kept in the board EEPROM.
#include "device/eeprom/board_connection.h"
#include "device/eeprom/boardlib/phx_driver.h"
#include "device/eeprom/commands.h"
#include "device/eeprom/error_report.h"
#include "device/eeprom/tool_options.h"

namespace {

// All zero at program start.
ToolOptions options;

}  // namespace

int main(int argc, char** argv) {
  // 1. The command line; help, usage and refused operands end the run here.
  const int parsed = ParseToolOptions(argc, argv, &options);
  if (parsed != kRunCommand) return parsed;
  SetErrorReportVerbose(options.verbose);

  // 2. One command. Writing commands connect the board library first and release it after.
  long eepromDevice = -1;
  int status = 0;
  switch (options.command) {
    case kCommandGet:
      EepromCmdGet(options, options.name);  // finding nothing is not a failure
      break;
    case kCommandSet:
      ConnectBoardLibrary(options.verbose, &eepromDevice);
      status = EepromCmdSet(options, eepromDevice, options.name, options.value);
      PhxDrvReleaseLib();
      break;
    case kCommandList:
      EepromCmdList(options);
      break;
    case kCommandWriteDefaults:
      ConnectBoardLibrary(options.verbose, &eepromDevice);
      status = EepromCmdWriteDefaults(options, eepromDevice);
      PhxDrvReleaseLib();
      break;
  }
  return status;
}
