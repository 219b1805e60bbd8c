// A board's identity is never lost silently: what was read from the board and what is programmed
// go into the log file, one line each ("serialno = QV4N150101ABC"), and the operator is warned
// before the factory identity replaces a board's own.
#pragma once

#include <string>
#include <vector>

#include "host/sequence/containers.h"

// Log lines of the identity backup, written as the values are read.
void LogIdentityHeading();
void LogIdentityValue(const std::string& name, const std::string& value);
// A value U-Boot said it does not hold ("not defined"): "serialno: not defined on the board".
void LogIdentityLacking(const std::string& name);
// The line after the backup that names the values the board lacked, on the console and in the log.
void SayIdentityLacking(const std::vector<std::string>& names);
void LogNoIdentityOnBoard();

// Called by the identity choice before the values are confirmed: when neither the command line
// (-m and -s) nor the board gave both values, the factory identity is about to be programmed; a
// warning on the console and in the log says so and how to give the board's own values instead,
// and names the newest earlier run log in the current folder that holds an identity read from a
// board (a run that was given up after step 1 had erased the board). True when it warned.
bool WarnBeforeFactoryIdentity(const OptionMap& options, const OptionMap& backup);

// The newest of the latest run logs in the current folder whose "Identity read from the board:"
// holds both values: its name and the values. False when none does.
bool FindEarlierIdentity(std::string* logName, OptionMap* identity);

// Called once the identity is chosen (and confirmed): one log line per value programmed.
void LogProgrammedIdentity(const OptionMap& identity);
