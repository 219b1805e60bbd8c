// The U-Boot environment every flashed board gets, as the console commands that type it.
#pragma once

#include "host/sequence/containers.h"

constexpr size_t kDefaultCommandCount = 28;

// Appends the 28 default commands: network, NAND layout, the ten kernel slots and the boot scripts.
void FillDefaultEnvironment(CommandList& commands);
