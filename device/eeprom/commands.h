// The commands of uboot-eeprom. Each reads and writes the one in-memory image; every failing step
// ends the run through ExitOnError.
#ifndef DEVICE_EEPROM_COMMANDS_H_
#define DEVICE_EEPROM_COMMANDS_H_

#include "device/eeprom/tool_options.h"

// Prints the named variable, or every entry; 0 when a named lookup printed something, else 1.
int EepromCmdGet(const ToolOptions& options, const char* name);

// Prints the variable names of the user layer.
int EepromCmdList(const ToolOptions& options);

// Changes or deletes one variable; the board library is connected. Gives the exit status: 0, or 1
// when the change was refused or did not verify.
int EepromCmdSet(const ToolOptions& options, long eepromDevice, const char* name, const char* value);

// Writes the default table as the new user layer; the board library is connected. Gives the exit
// status: 0, or 1 when the write did not verify.
int EepromCmdWriteDefaults(const ToolOptions& options, long eepromDevice);

#endif  // DEVICE_EEPROM_COMMANDS_H_
