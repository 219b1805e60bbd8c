// How the program watches the target's console text: line-wise waits with a time-out, reading a
// value after a key, appending to the log file and drawing the progress bar.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class RS232;

// Reads the target's output line by line until a line holds okText (true), a line holds failText
// (false; failText may be null), or timeoutMs passes (false). Every line is shown after "Target: "
// and, when shorter than 255 characters, appended to the log file.
// The time-out counts from the moment the bytes written before the call can have left the line.
// A prompt that the target ends without a line end is taken as a finished line as soon as the
// target has been quiet for a moment after it.
bool WaitForText(const char* failText, const char* okText, RS232* port, uint32_t timeoutMs);
// As WaitForText, with several failure texts (a null pointer ends the list early).
bool WaitForText(std::initializer_list<const char*> failTexts, const char* okText, RS232* port,
                 uint32_t timeoutMs);
// As WaitForText, and every line it read, the last one included, is appended to lines whole (with
// its line end), however long: a line of 255 characters or more is kept though not logged.
bool WaitForTextKeepingLines(std::initializer_list<const char*> failTexts, const char* okText, RS232* port,
                             uint32_t timeoutMs, std::vector<std::string>* lines);

// As WaitForTextKeepingLines (lines may be null), for texts that stand before what counts (a
// number, a verdict: "Bytes transferred = ", "Verifying Checksum ... OK"): a line is judged only
// once the target has ended it, however long it pauses inside it, up to the time-out. A line cut
// off by the time-out is shown and kept but never matched.
bool WaitForLine(std::initializer_list<const char*> failTexts, const char* okText, RS232* port,
                 uint32_t timeoutMs, std::vector<std::string>* lines = nullptr);

// Reads lines for up to 5000 ms until one holds key; value gets the rest of that line without its
// last character. Only a line the target ended counts. 1 on success, 0 when the key never came
// (value is left as it was). With absentText given, a line that holds it instead is the target's
// word that it has no such value: -1, value left as it was.
int WaitForValue(std::string& value, RS232* port, const char* key, const char* absentText = nullptr);

// Writes text to the target's console as the port is set: one character at a time with its pause
// when pacedWrite is on, as the Linux shell's lines and single keys are typed.
void Type(RS232* port, const std::string& text);

// How the run types commands at U-Boot's prompt. Paced: as the port is set, blind (pacedWrite: one
// character every 10 ms), U-Boot's echo and answers left for the next wait. Echo: at the pace of
// U-Boot's echo, each character compared as it comes back (echo_typing.h). One choice for the whole
// run, made from its command line; paced until then.
enum class UBootTyping { kPaced, kEcho };
void SetUBootTyping(UBootTyping typing);
UBootTyping CurrentUBootTyping();

// Types one command line at the U-Boot prompt and its Enter, as the run types. Every command the
// program gives U-Boot goes through here. False when the board did not take it as typed (echo
// typing only; the reason is printed and logged).
bool TypeCommand(RS232* port, const std::string& command);

// A line of the program's own among the target's, on a line of its own on the console and in the
// log: the target's last line may have ended with a carriage return alone.
void ReportLine(const std::string& line);

// One finished line of the target's: shown after "Target: " (its own last character ends the
// console line) and, when shorter than 255 characters, appended to the log file.
void ShowTargetLine(const std::string& line);

// Draws the 50-cell progress bar: "\t 050% [ ... ] " and "\r", or "\r\n" from 100 on.
void ShowProgress(unsigned percent);

// One progress bar of an upload: redrawn only when its text changes, so that a transfer of
// thousands of blocks costs the console a hundred redraws and never holds up the line.
class ProgressBar {
 public:
  void Show(unsigned percent);

 private:
  bool drawn_ = false;
  unsigned shown_ = 0;
};
