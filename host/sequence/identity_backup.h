// Step 1: read the board's serial number and MAC address, then erase the start of NAND.
#pragma once

#include "host/sequence/containers.h"

int BackupIdentity(const char* portName, OptionMap& backup);
