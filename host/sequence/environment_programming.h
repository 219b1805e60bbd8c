// Steps 4 and 6: type the U-Boot environment, and copy the kernel into its ten NAND slots.
#pragma once

#include "host/sequence/containers.h"

int ProgramEnvironment(const char* portName, const CommandList& commands);
int MakeKernelClones(const char* portName);
