// The lines the program shows on its console and appends to its log while it talks to the target:
// the target's own, and the program's reports among them. The waits for the target's text and the
// typing at U-Boot's prompt both show their lines here.
#pragma once

#include <string>

// A line of the program's own among the target's, on a line of its own on the console and in the
// log: the target's last line may have ended with a carriage return alone.
void ReportLine(const std::string& line);

// One finished line of the target's: shown after "Target: " (its own last character ends the
// console line) and, when shorter than 255 characters, appended to the log file.
void ShowTargetLine(const std::string& line);

// A line of the target's shown after "Target: " but not logged (a value the wait logs itself).
void ShowTargetLineOnly(const std::string& line);
