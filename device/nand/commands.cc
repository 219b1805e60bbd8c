#include "device/nand/commands.h"

#include <string.h>

#include "device/nand/env_block.h"
#include "device/nand/env_var.h"
#include "device/nand/flash.h"

namespace {

const char kUsage[] =
    "Usage: uboot [opts] cmd [cmd_args]\n"
    "Where opts can be:\n"
    "   --file, -f file_name  -- Load uboot vars from file, default /dev/mtd0\n"
    "   --yes, -y             -- Store anyway even if list is empty\n"
    "Where cmd can be:\n"
    "   set [{name} {value}]  -- Set var {name} to {value}\n"
    "   get [{name}]          -- Get var named {name}\n"
    "   list                  -- Get list of all vars\n";

// Loads the block under a shared lock, so that a concurrent set is seen whole or not at all.
bool LoadShared(const RunSettings& settings, const ToolIo& io, EnvVar* head) {
  int lockFd = EnvLock(io, settings.envPath, false);
  bool loaded = lockFd != -2 && EnvLoad(io, head, settings.envPath);
  EnvUnlock(io, lockFd);
  if (!loaded) fprintf(io.err, "Error: cannot read file \"%s\"\n", settings.envPath);
  return loaded;
}

}  // namespace

void PrintUsage(FILE* out) { fputs(kUsage, out); }

int CmdGet(const RunSettings& settings, const ToolIo& io, const char* name) {
  EnvVar head;
  EnvVarClear(&head);
  if (!LoadShared(settings, io, &head)) {
    EnvVarDestroy(&head);
    return 1;
  }
  int status = 0;
  if (name != 0) {
    EnvVar* found = EnvVarFind(&head, name);
    if (found != 0) {
      fprintf(io.out, "%s\n", found->value);
    } else {
      status = 1;
    }
  } else {
    for (EnvVar* record = &head; record != 0 && record->name != 0; record = record->next) {
      fprintf(io.out, "%s=%s\n", record->name, record->value);
    }
  }
  EnvVarDestroy(&head);
  return status;
}

int CmdList(const RunSettings& settings, const ToolIo& io) {
  EnvVar head;
  EnvVarClear(&head);
  if (!LoadShared(settings, io, &head)) {
    EnvVarDestroy(&head);
    return 1;
  }
  for (EnvVar* record = &head; record != 0 && record->name != 0; record = record->next) {
    fprintf(io.out, "%s\n", record->name);
  }
  EnvVarDestroy(&head);
  return 0;
}

int RunCommand(const RunSettings& settings, const ToolIo& io) {
  const char* command = settings.command;
  const int count = settings.argumentCount;
  char* const* arguments = settings.arguments;
  if (strcmp(command, "help") == 0) {
    PrintUsage(io.out);
    return 0;
  }
  if (strcmp(command, "set") == 0) {
    if (count == 2) return CmdSet(settings, io, arguments[0], arguments[1]);
    if (count == 0) return CmdSetAll(settings, io);
  } else if (strcmp(command, "get") == 0) {
    if (count <= 1) return CmdGet(settings, io, count == 1 ? arguments[0] : 0);
  } else if (strcmp(command, "list") == 0) {
    if (count == 0) return CmdList(settings, io);
  } else {
    // A typo in a script must not pass as success.
    fprintf(io.out, "Cmd \"%s\" unknown\n", command);
    return 1;
  }
  PrintUsage(io.out);
  return 1;
}
