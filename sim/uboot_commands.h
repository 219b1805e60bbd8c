// U-Boot's commands on this board. Each prints what U-Boot prints and returns 0 on success.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/uboot_shell.h"

namespace sim {

// The whole command table.
std::vector<Command> UBootCommands();

// The table's parts, one file each.
std::vector<Command> EnvironmentCommands();  // setenv, printenv, saveenv, run, echo, help, version
std::vector<Command> NandCommands();         // nand
std::vector<Command> BootCommands();         // iminfo, bootm, mmc, ext2load, loady
std::vector<Command> NetworkCommands();      // tftpboot
std::vector<Command> MemoryCommands();       // md

// U-Boot's numbers are hexadecimal with or without 0x; the whole text must be a number.
bool ParseHex(const std::string& text, uint32_t* value);

// Prints "Usage:" and the command's usage line; returns 1.
int PrintUsage(UBootContext& ctx, const Shell& shell, const std::string& name);

}  // namespace sim
