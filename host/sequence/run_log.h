// The log file of a run: its name from the UTC start time, and its creation.
#pragma once

#include <string>

#include "host/platform/utc_time.h"

// "[2014-6-23]-9-5-7-45.log": every number in decimal without leading zeros.
std::string LogFileName(const UtcTime& time);

// The start time a run log's name gives; false for any other name.
bool ParseLogFileName(const std::string& name, UtcTime* time);

// Prints "Create log: " and the name, then creates the file in the current directory. A file that
// cannot be created gets one warning line, and the run goes on without a log.
void CreateRunLog(const std::string& name);
