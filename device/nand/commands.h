// uboot-nand's commands: help, set, get and list on the environment block at envPath.
#ifndef DEVICE_NAND_COMMANDS_H
#define DEVICE_NAND_COMMANDS_H

#include <stdio.h>

#include "device/nand/tool_io.h"

struct RunSettings {
  const char* envPath;  // --file; "/dev/mtd0" by default
  bool forceWrite;      // --yes
  const char* command;  // "help" when none is given
  int argumentCount;    // the arguments after the command word
  char* const* arguments;
};

void PrintUsage(FILE* out);

// Runs the command and gives the exit status: 0 success, 1 failure.
int RunCommand(const RunSettings& settings, const ToolIo& io);

// set NAME VALUE: an empty VALUE removes the variable.
int CmdSet(const RunSettings& settings, const ToolIo& io, const char* name, const char* value);
// set without arguments: every variable anew from standard input, one "name=value" a line.
int CmdSetAll(const RunSettings& settings, const ToolIo& io);
// get [NAME]
int CmdGet(const RunSettings& settings, const ToolIo& io, const char* name);
int CmdList(const RunSettings& settings, const ToolIo& io);

#endif  // DEVICE_NAND_COMMANDS_H
