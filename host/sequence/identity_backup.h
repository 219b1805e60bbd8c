// Step 1: read the board's serial number and MAC address, then erase the start of NAND.
#pragma once

#include <string>
#include <vector>

#include "host/sequence/containers.h"

// Restarts the board, stops it at the U-Boot prompt, reads serialno and ethaddr into backup and
// erases the first 512 KiB of NAND, so that the next restart ends in the boot ROM. A board that
// shows no boot loader is no failure: 1 with backup left empty. 0 on failure.
// A run that cannot go on without the board's own identity (unattended, nothing given instead) keeps
// NAND as it is when the board holds none that can be programmed back (IsProgrammableIdentity):
// 1 with what was read in backup, nothing erased.
// A value U-Boot answers with "## Error: "NAME" not defined" (a board whose U-Boot runs on its
// defaults, its saved environment lost) is one the board does not hold: it stays out of backup,
// its name goes into lacking (when given), and the backup goes on as for a board without one.
enum class WithoutIdentity { kErase, kKeepNand };
int BackupIdentity(const char* portName, OptionMap& backup,
                   WithoutIdentity without = WithoutIdentity::kErase,
                   std::vector<std::string>* lacking = nullptr);
