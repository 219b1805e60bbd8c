// The process-wide log file of a run. The flashing sequence opens and closes it; the console
// operations and the steps append to it. Its bytes are the same on every platform: each line feed
// written becomes carriage return and line feed, as in a Windows text-mode file.
#pragma once

#include <string>

// Creates (or truncates) the file; false when it cannot be created.
bool OpenLogFile(const std::string& name);
void CloseLogFile();
bool LogFileIsOpen();

// Appends text (no terminator, no time stamp) when the log is open and the text is shorter than
// 255 characters; otherwise does nothing.
void WriteLog(const std::string& text);

// Appends a line the target sent, as WaitForText keeps it: only lines shorter than 255 characters.
void LogTargetLine(const std::string& line);
