// The process-wide log file of a run. The flashing sequence opens and closes it; the console
// operations and the steps append to it. Its bytes are the same on every platform: each line feed
// written becomes carriage return and line feed, as in a Windows text-mode file.
#pragma once

#include <string>

#include "host/platform/new_file.h"

// Creates (or truncates) the file; false when it cannot be created.
bool OpenLogFile(const std::string& name);
// Creates the file only when no file of that name exists: a run never writes over another's log.
NewFileResult OpenNewLogFile(const std::string& name);
void CloseLogFile();
bool LogFileIsOpen();

// Appends text (no terminator, no time stamp) when the log is open and the text is shorter than
// 255 characters; otherwise does nothing. A URL's user and password are logged as "***".
void WriteLog(const std::string& text);

// Appends a line the target sent, as WaitForText keeps it: only lines shorter than 255 characters.
void LogTargetLine(const std::string& line);

// A port that would not open, in words (the line after "Could not open ... port"): logged, and
// kept as the run's last port trouble for its record. Forgotten when a step begins, so what is
// kept belongs to the step that failed.
void LogPortTrouble(const std::string& words);
const std::string& LastPortTrouble();
void ForgetPortTrouble();
