// uboot-nand: reads and changes the U-Boot environment block in NAND (/dev/mtd0) or in a file.
#include <stdio.h>

#include "device/nand/commands.h"
#include "device/nand/options.h"
#include "device/nand/tool_io.h"

int main(int argc, char** argv) {
  // The command line: options, the command word and its arguments.
  RunSettings settings;
  ParseOptions(argc, argv, &settings);

  // One command on the block, through the system's own calls; its result is the exit status.
  SystemBlockIo block;
  ToolIo io = {&block, stdin, stdout, stderr};
  return RunCommand(settings, io);
}
