// The log file of a run: its name from the UTC start time, and its creation.
#pragma once

#include <string>

#include "host/platform/utc_time.h"

// "[2014-6-23]-9-5-7-45.log": every number in decimal without leading zeros.
std::string LogFileName(const UtcTime& time);

// The start time a run log's name gives; false for any other name.
bool ParseLogFileName(const std::string& name, UtcTime* time);

// The moment one millisecond later, carried into the seconds, minutes, ... and the calendar.
UtcTime NextMillisecond(const UtcTime& time);

// Creates the run's log in the current directory, named from the start time, and prints "Create
// log: " and its name. A log of that name from another run (several runs on one PC, started in
// the same millisecond) is never written over: the run takes the name of the next millisecond
// that is free and says so on the console and in its log. A file that cannot be created gets one
// warning line, and the run goes on without a log. The name used; empty without a log.
std::string CreateRunLog(const UtcTime& started);
