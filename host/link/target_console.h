// How the program watches the target's console text: line-wise waits with a time-out, reading a
// value after a key, appending to the log file and drawing the progress bar.
#pragma once

#include <cstdint>
#include <string>

class RS232;

// Reads the target's output line by line until a line holds okText (true), a line holds failText
// (false; failText may be null), or timeoutMs passes (false). Every line is shown after "Target: "
// and, when shorter than 255 characters, appended to the log file.
bool WaitForText(const char* failText, const char* okText, RS232* port, uint32_t timeoutMs);

// Reads lines for up to 5000 ms until one holds key; value gets the rest of that line without its
// last character. 1 on success, 0 when the key never came (value is left as it was).
int WaitForValue(std::string& value, RS232* port, const char* key);

// Draws the 50-cell progress bar: "\t 050% [ ... ] " and "\r", or "\r\n" from 100 on.
void ShowProgress(unsigned percent);
