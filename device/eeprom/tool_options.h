// The command line of uboot-eeprom: [-v] [-l level] command [operands].
#ifndef DEVICE_EEPROM_TOOL_OPTIONS_H_
#define DEVICE_EEPROM_TOOL_OPTIONS_H_

enum ToolCommand { kCommandNone = 0, kCommandGet = 1, kCommandSet = 2, kCommandList = 3, kCommandWriteDefaults = 4 };

const unsigned int kNameFieldSize = 64;
const unsigned int kValueFieldSize = 1024;

struct ToolOptions {
  int verbose;  // "-v": progress lines and the error line
  int level;    // get: 0 user layer then defaults, 1 user layer only, 2 defaults only
  int command;  // ToolCommand
  char name[kNameFieldSize];
  char value[kValueFieldSize];  // empty: delete the variable
};

// What ParseToolOptions gives when a command is to run; any other value is the exit status.
const int kRunCommand = -1;

// Fills the record from the command line. Prints the usage text or the reason when the run ends
// here (help, no command, an unrecognized argument, set without operands, an operand too long for
// its field) and gives the exit status; otherwise gives kRunCommand.
int ParseToolOptions(int argc, const char* const* argv, ToolOptions* options);

void PrintUsage();

#endif  // DEVICE_EEPROM_TOOL_OPTIONS_H_
