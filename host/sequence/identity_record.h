// A board's identity is never lost silently: what was read from the board and what is programmed
// go into the log file, one line each ("serialno = QV4N150101ABC"), and the operator is warned
// before the factory identity replaces a board's own.
#pragma once

#include <string>

#include "host/sequence/containers.h"

// Log lines of the identity backup, written as the values are read.
void LogIdentityHeading();
void LogIdentityValue(const std::string& name, const std::string& value);
void LogNoIdentityOnBoard();

// Called by the identity choice before the values are confirmed: when neither the command line
// (-m and -s) nor the board gave both values, the factory identity is about to be programmed; a
// warning on the console and in the log says so and how to give the board's own values instead.
// True when it warned.
bool WarnBeforeFactoryIdentity(const OptionMap& options, const OptionMap& backup);

// Called once the identity is chosen (and confirmed): one log line per value programmed.
void LogProgrammedIdentity(const OptionMap& identity);
