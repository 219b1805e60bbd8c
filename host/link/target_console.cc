#include "host/link/target_console.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/link/echo_typing.h"
#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/url_credentials.h"
#include "host/platform/clock.h"
#include "host/platform/console.h"

namespace {

constexpr size_t kLineReserve = 255;
// U-Boot's line editor ends a line at a carriage return and again at a line feed, and an empty
// line runs the last command once more: one Enter is a carriage return alone.
constexpr char kUBootEnter[] = "\r";
constexpr uint32_t kValueWindowMs = 5000;
constexpr unsigned kProgressCells = 50;
// A read that fails at once (a dropped network line) must not spin the value wait hot.
constexpr uint32_t kFailedReadPauseMs = 10;

bool EndsLine(uint8_t byte) { return byte == '\n' || byte == '\r' || byte == 0; }

// The target sends NUL after its fixed 8-byte messages; the line takes it as a line feed.
char Stored(uint8_t byte) { return byte == 0 ? '\n' : static_cast<char>(byte); }

// The board's serial drivers end a line with CR LF, and U-Boot echoes the Enter as CR CR LF: a
// line the target ended with a carriage return may still have the rest of its line end coming.
// Set while the console's last target line ended with a carriage return and no line feed has
// followed it; the console is one for the whole process.
bool afterCarriageReturn = false;

bool OnlyLineEnds(const std::string& line) { return line.find_first_not_of("\r\n") == std::string::npos; }

// One finished line on the console: its own last character ends the console line, and a line
// ended by a carriage return is overwritten by the next "Target: ". Line ends that finish the last
// line's carriage return (its LF, or CR LF after a CR) are that line's end, not a line: they move
// the cursor down once and show no "Target: ". True when the line was such a rest, nothing new.
// A proxy's password the board echoes is not shown.
bool ShowLine(const std::string& target) {
  if (afterCarriageReturn && OnlyLineEnds(target)) {
    if (target.find('\n') != std::string::npos) {
      std::cout << '\n' << std::flush;
      afterCarriageReturn = false;
    }
    return true;
  }
  const std::string line = HideUrlCredentials(target);
  std::cout << "Target: ";
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout << std::flush;
  afterCarriageReturn = !line.empty() && line.back() == '\r';
  return false;
}

// Reads one byte. 1: a byte came; 0: the read time-out passed with nothing; -1: the read failed.
int ReadByte(RS232* port, uint8_t* byte) {
  uint32_t count = 0;
  if (!port->Read(byte, 1, &count, 0)) return -1;
  return count == 1 ? 1 : 0;
}

// As ReadByte, waiting at most waitMs.
int ReadByteWithin(RS232* port, uint8_t* byte, uint32_t waitMs) {
  uint32_t count = 0;
  if (!port->ReadWithin(byte, 1, &count, waitMs)) return -1;
  return count == 1 ? 1 : 0;
}

}  // namespace

namespace {

// The quiet that ends a prompt: a line that holds an awaited text and then gets no byte for this
// long is the target waiting for an answer. A running line at 115200 baud brings a byte every
// 87 us, and a USB adapter hands them over at least every few milliseconds while they stream.
constexpr uint32_t kPromptQuietMs = 10;

bool Holds(const std::string& line, const char* text) { return text && line.find(text) != std::string::npos; }

// Whether the last byte completed one of the texts; only the line's tail can hold a new match.
bool EndsWithAwaited(const std::string& line, const char* text) {
  if (!text) return false;
  const size_t length = std::strlen(text);
  return length > 0 && line.size() >= length && line.compare(line.size() - length, length, text) == 0;
}

// How a wait judges its lines. A prompt: the target prints it without a line end, so a partial
// line is judged once the target falls quiet after an awaited text or a silent read finishes it.
// A line: what the awaited text stands for comes after it (a number, a verdict), so only a line
// the target has ended counts, however long it pauses inside it.
enum class Judged { kPrompt, kWholeLine };

bool WaitForAnyText(const char* const* failTexts, size_t failCount, const char* okText, RS232* port,
                    uint32_t timeoutMs, std::vector<std::string>* lines, Judged judged) {
  if (!okText || !port) return false;
  const bool prompt = judged == Judged::kPrompt;
  const WireTimer timer(port);
  std::string line;
  line.reserve(kLineReserve);
  for (;;) {
    line.clear();
    // Gather one line. For a prompt a silent read finishes a partial line, and once the line
    // holds a text the wait looks for, a short quiet finishes it: "B-Boot >" or "login:" is acted
    // on at once instead of after the one-second silent read.
    bool awaited = false;
    bool ended = false;
    for (;;) {
      uint8_t byte = 0;
      const int got = awaited ? ReadByteWithin(port, &byte, kPromptQuietMs) : ReadByte(port, &byte);
      if (got < 0) return false;
      const bool timedOut = timer.ElapsedMs() > timeoutMs;
      if (got == 0) {
        if (!line.empty() && (prompt || timedOut)) {
          line += '\n';
          break;
        }
        if (timedOut) return false;
        continue;
      }
      line += Stored(byte);
      ended = EndsLine(byte);
      if (timedOut) {
        if (prompt || !ended) line += '\n';
        break;
      }
      if (ended) break;
      if (!prompt) continue;
      for (size_t i = 0; i < failCount && !awaited; ++i) awaited = EndsWithAwaited(line, failTexts[i]);
      awaited = awaited || EndsWithAwaited(line, okText);
    }

    ShowTargetLine(line);
    if (lines) lines->push_back(line);

    if (prompt || ended) {
      if (Holds(line, okText)) return true;
      for (size_t i = 0; i < failCount; ++i) {
        if (Holds(line, failTexts[i])) return false;
      }
    }
    if (timer.ElapsedMs() >= timeoutMs) return false;
  }
}

}  // namespace

bool WaitForText(const char* failText, const char* okText, RS232* port, uint32_t timeoutMs) {
  return WaitForAnyText(&failText, 1, okText, port, timeoutMs, nullptr, Judged::kPrompt);
}

bool WaitForText(std::initializer_list<const char*> failTexts, const char* okText, RS232* port,
                 uint32_t timeoutMs) {
  return WaitForAnyText(failTexts.begin(), failTexts.size(), okText, port, timeoutMs, nullptr, Judged::kPrompt);
}

bool WaitForTextKeepingLines(std::initializer_list<const char*> failTexts, const char* okText, RS232* port,
                             uint32_t timeoutMs, std::vector<std::string>* lines) {
  return WaitForAnyText(failTexts.begin(), failTexts.size(), okText, port, timeoutMs, lines, Judged::kPrompt);
}

bool WaitForLine(std::initializer_list<const char*> failTexts, const char* okText, RS232* port,
                 uint32_t timeoutMs, std::vector<std::string>* lines) {
  return WaitForAnyText(failTexts.begin(), failTexts.size(), okText, port, timeoutMs, lines,
                        Judged::kWholeLine);
}

int WaitForValue(std::string& value, RS232* port, const char* key, const char* absentText) {
  if (!port || !key) return 0;
  const WireTimer timer(port);
  const size_t keyLength = std::strlen(key);
  std::string line;
  line.reserve(kLineReserve);
  for (;;) {
    // One line, up to its end: a value is the rest of a line the target ended, so a pause inside
    // it (a slow adapter, a server that packs data on its own timer) never cuts it short.
    line.clear();
    bool ended = false;
    bool windowOver = false;
    for (;;) {
      uint8_t byte = 0;
      const int got = ReadByte(port, &byte);
      windowOver = timer.ElapsedMs() >= kValueWindowMs;
      if (got == 1) {
        line += Stored(byte);
        ended = EndsLine(byte);
      } else if (got < 0) {
        HostClock().SleepMs(kFailedReadPauseMs);
      }
      if (ended || windowOver) break;
    }

    if (line.empty()) return 0;  // the window closed on a silent line
    ShowLine(ended ? line : line + '\n');  // shown, not logged

    const size_t at = line.find(key);
    if (ended && at != std::string::npos) {
      // The rest of the line without its last character (the line end). A key that ends the line
      // leaves nothing to take.
      const size_t from = at + keyLength;
      value = from < line.size() ? line.substr(from, line.size() - from - 1) : std::string();
      return 1;
    }
    if (ended && Holds(line, absentText)) return -1;
    if (windowOver) return 0;
  }
}

void Type(RS232* port, const std::string& text) {
  port->Write(text.data(), static_cast<uint32_t>(text.size()), nullptr, 0);
}

namespace {
UBootTyping uBootTyping = UBootTyping::kPaced;
}  // namespace

void SetUBootTyping(UBootTyping typing) { uBootTyping = typing; }

UBootTyping CurrentUBootTyping() { return uBootTyping; }

bool TypeCommand(RS232* port, const std::string& command) {
  if (uBootTyping == UBootTyping::kEcho) return TypeCommandAtEcho(port, command);
  Type(port, command + kUBootEnter);
  return true;
}

void ReportLine(const std::string& line) {
  afterCarriageReturn = false;  // the line feed before the report ends the target's line
  std::cout << std::endl << line << std::endl;
  WriteLog("\n" + line + "\n");
}

void ShowTargetLine(const std::string& line) {
  if (ShowLine(line)) return;
  // The log's lines end in CR LF of its own: a line the target ended with a CR is logged as ended.
  // Lines of 255 characters or more are shown but not logged.
  if (!line.empty() && line.back() == '\r') LogTargetLine(line.substr(0, line.size() - 1) + "\n");
  else LogTargetLine(line);
}

void ProgressBar::Show(unsigned percent) {
  if (drawn_ && percent == shown_) return;
  drawn_ = true;
  shown_ = percent;
  ShowProgress(percent);
}

void ShowProgress(unsigned percent) {
  const uint64_t filled = static_cast<uint64_t>(percent) * kProgressCells / 100;
  std::string bar;
  for (unsigned i = 0; i < kProgressCells; ++i) bar += i < filled ? ProgressFullBlock() : "-";
  char number[16];
  std::snprintf(number, sizeof number, "%03u", percent);
  std::cout << "\t " << number << "% [ " << bar << " ] " << (percent < 100 ? "\r" : "\r\n") << std::flush;
}
