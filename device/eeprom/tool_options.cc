#include "device/eeprom/tool_options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Operands that do not fit their field are refused: a cut name or value would be written to the
// EEPROM as something the operator never typed.
bool CopyOperand(const char* operand, char* field, unsigned int fieldSize, const char* what) {
  if (strlen(operand) >= fieldSize) {
    fprintf(stderr, "Error: the %s is too long (at most %u characters)\n", what, fieldSize - 1);
    return false;
  }
  strcpy(field, operand);
  return true;
}

}  // namespace

void PrintUsage() {
  printf("Usage: uboot [opts] cmd [cmd_args]\n");
  printf("Where opts can be:\n");
  printf("   -v                    -- Log messages\n");
  printf("   -l level              -- Variables level: \n");
  printf("                            0 - All. First from userspace, if not found - from defaults (by default)\n");
  printf("                            1 - Userspace only\n");
  printf("                            2 - Defaults only\n");
  printf("Where cmd can be:\n");
  printf("   set [{name} {value}]  -- Set var {name} to {value}\n");
  printf("   get [{name}]          -- Get var named {name}\n");
  printf("   list                  -- Get list of all vars\n");
}

int ParseToolOptions(int argc, const char* const* argv, ToolOptions* options) {
  options->verbose = 0;
  options->command = kCommandNone;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (strcmp(argument, "-v") == 0) {
      options->verbose = 1;
    } else if (strncmp(argument, "-l", 2) == 0) {
      // "-l2" and "-l 2"; the word after a bare "-l" is the level whatever it is, so "-l get"
      // leaves no command.
      if (strlen(argument) > 2) {
        options->level = atoi(argument + 2);
      } else if (i + 1 < argc) {
        options->level = atoi(argv[++i]);
      }
    } else if (strcmp(argument, "get") == 0) {
      options->command = kCommandGet;
      options->name[0] = '\0';
      if (i + 1 < argc && !CopyOperand(argv[i + 1], options->name, kNameFieldSize, "name")) return 1;
      return kRunCommand;
    } else if (strcmp(argument, "set") == 0) {
      options->command = kCommandSet;
      if (i + 1 >= argc) {
        fprintf(stderr, "Error: you try to rewrite all vars. Use '-y' flag\n");
        return 1;
      }
      options->value[0] = '\0';
      if (!CopyOperand(argv[i + 1], options->name, kNameFieldSize, "name")) return 1;
      if (i + 2 < argc && !CopyOperand(argv[i + 2], options->value, kValueFieldSize, "value")) return 1;
      return kRunCommand;
    } else if (strcmp(argument, "list") == 0) {
      options->command = kCommandList;
      return kRunCommand;
    } else if (strcmp(argument, "wdef") == 0) {
      options->command = kCommandWriteDefaults;
      return kRunCommand;
    } else if (strcmp(argument, "help") == 0) {
      PrintUsage();
      return 0;
    } else {
      fprintf(stderr, "uboot: unrecognized option `%s'\n", argument);
      PrintUsage();
      return 1;
    }
  }
  PrintUsage();
  return 0;
}
