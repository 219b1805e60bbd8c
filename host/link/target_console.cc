#include "host/link/target_console.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/platform/clock.h"
#include "host/platform/console.h"

namespace {

constexpr size_t kLineReserve = 255;
constexpr uint32_t kValueWindowMs = 5000;
constexpr unsigned kProgressCells = 50;
// A read that fails at once (a dropped network line) must not spin the value wait hot.
constexpr uint32_t kFailedReadPauseMs = 10;

bool EndsLine(uint8_t byte) { return byte == '\n' || byte == '\r' || byte == 0; }

// The target sends NUL after its fixed 8-byte messages; the line takes it as a line feed.
char Stored(uint8_t byte) { return byte == 0 ? '\n' : static_cast<char>(byte); }

// One finished line on the console: its own last character ends the console line, and a line
// ended by a carriage return is overwritten by the next "Target: ".
void ShowLine(const std::string& line) {
  std::cout << "Target: ";
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout << std::flush;
}

// Reads one byte. 1: a byte came; 0: the read time-out passed with nothing; -1: the read failed.
int ReadByte(RS232* port, uint8_t* byte) {
  uint32_t count = 0;
  if (!port->Read(byte, 1, &count, 0)) return -1;
  return count == 1 ? 1 : 0;
}

}  // namespace

bool WaitForText(const char* failText, const char* okText, RS232* port, uint32_t timeoutMs) {
  if (!okText || !port) return false;
  const uint32_t start = HostClock().TickMs();
  std::string line;
  line.reserve(kLineReserve);
  for (;;) {
    line.clear();
    // Gather one line. A silent read adds nothing; it finishes a partial line, so that a prompt
    // printed without a line end ("B-Boot >", "login:") is seen about a second after it came.
    for (;;) {
      uint8_t byte = 0;
      const int got = ReadByte(port, &byte);
      if (got < 0) return false;
      const bool timedOut = HostClock().TickMs() - start > timeoutMs;
      if (got == 0) {
        if (!line.empty()) {
          line += '\n';
          break;
        }
        if (timedOut) return false;
        continue;
      }
      line += Stored(byte);
      if (timedOut) {
        line += '\n';
        break;
      }
      if (EndsLine(byte)) break;
    }

    ShowLine(line);
    LogTargetLine(line);  // lines of 255 characters or more are shown but not logged

    if (line.find(okText) != std::string::npos) return true;
    if (failText && line.find(failText) != std::string::npos) return false;
    if (HostClock().TickMs() - start >= timeoutMs) return false;
  }
}

int WaitForValue(std::string& value, RS232* port, const char* key) {
  if (!port || !key) return 0;
  const uint32_t start = HostClock().TickMs();
  const size_t keyLength = std::strlen(key);
  std::string line;
  line.reserve(kLineReserve);
  for (;;) {
    line.clear();
    bool windowOver = false;
    for (;;) {
      uint8_t byte = 0;
      const int got = ReadByte(port, &byte);
      windowOver = HostClock().TickMs() - start >= kValueWindowMs;
      if (got == 1) {
        line += Stored(byte);
        if (EndsLine(byte) || windowOver) break;
        continue;
      }
      if (got < 0) HostClock().SleepMs(kFailedReadPauseMs);
      if (!line.empty()) {
        line += '\n';  // a silent line ends the partial one, as in WaitForText
        break;
      }
      if (windowOver) break;
    }

    if (line.empty()) return 0;  // the window closed on a silent line
    ShowLine(line);              // shown, not logged

    const size_t at = line.find(key);
    if (at != std::string::npos) {
      // The rest of the line without its last character (the line end). A key that ends the line
      // leaves nothing to take.
      const size_t from = at + keyLength;
      value = from < line.size() ? line.substr(from, line.size() - from - 1) : std::string();
      return 1;
    }
    if (windowOver) return 0;
  }
}

void ShowProgress(unsigned percent) {
  const uint64_t filled = static_cast<uint64_t>(percent) * kProgressCells / 100;
  std::string bar;
  for (unsigned i = 0; i < kProgressCells; ++i) bar += i < filled ? ProgressFullBlock() : "-";
  char number[16];
  std::snprintf(number, sizeof number, "%03u", percent);
  std::cout << "\t " << number << "% [ " << bar << " ] " << (percent < 100 ? "\r" : "\r\n")
            << std::flush;
}
