#include "host/link/echo_typing.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "host/link/rs232.h"
#include "host/link/target_console.h"

namespace {

// The prompt U-Boot prints before it reads a line; blanks may follow it.
constexpr char kPrompt[] = "B-Boot >";
// The board's UART receive FIFO: the most characters that may be on their way unechoed.
constexpr size_t kReceiveFifo = 16;
constexpr int kTries = 4;  // the first and three more
// Counted from the moment the line has carried the last character typed or brought the last echo.
constexpr uint32_t kEchoTimeoutMs = 1000;
// The board finishes what it was doing (saving the environment, an erase) and prints its prompt.
constexpr uint32_t kPromptTimeoutMs = 10000;
// Ctrl-C is answered at once at the prompt, or once the command that took the Enter is done.
constexpr uint32_t kInterruptTimeoutMs = 5000;
// After Ctrl-C a prompt is the last one once nothing followed it for this long: the command that
// took the Enter prints its prompt, and then U-Boot reads the Ctrl-C and prints another.
constexpr uint32_t kSettleMs = 100;
constexpr char kEnter = '\r';
constexpr char kCtrlC = 0x03;
// How much of a command a report line names.
constexpr size_t kCommandShown = 40;

// Reads one byte, waiting at most waitMs. 1: a byte came; 0: none; -1: the read failed.
int ReadByteWithin(RS232* port, uint8_t* byte, uint32_t waitMs) {
  uint32_t count = 0;
  if (!port->ReadWithin(byte, 1, &count, waitMs)) return -1;
  return count == 1 ? 1 : 0;
}

// Typed characters go out together however the port paces its other writes.
bool WriteUnpaced(RS232* port, const char* data, size_t length) {
  const int32_t paced = port->pacedWrite;
  port->pacedWrite = 0;
  uint32_t written = 0;
  const int ok = port->Write(data, static_cast<uint32_t>(length), &written, 0);
  port->pacedWrite = paced;
  return ok == 1 && written == length;
}

// Whether the board's last words are its prompt, perhaps with blanks after it.
bool AtPrompt(const std::string& recent) {
  const size_t end = recent.find_last_not_of(' ');
  const size_t length = sizeof kPrompt - 1;
  return end != std::string::npos && end + 1 >= length &&
         recent.compare(end + 1 - length, length, kPrompt) == 0;
}

// What the board prints while a command is typed, shown and logged line by line as the waits show
// it: the prompt and the echo make one line.
class BoardText {
 public:
  BoardText() = default;
  BoardText(const BoardText&) = delete;
  BoardText& operator=(const BoardText&) = delete;
  ~BoardText() { Finish(); }

  void Add(uint8_t byte) {
    line_ += byte == 0 ? '\n' : static_cast<char>(byte);
    if (byte == '\n' || byte == '\r' || byte == 0) Emit();
  }
  // A line the board left open (its prompt, an echo cut short) ends here.
  void Finish() {
    if (line_.empty()) return;
    line_ += '\n';
    Emit();
  }

 private:
  void Emit() {
    ShowTargetLine(line_);
    line_.clear();
  }
  std::string line_;
};

// Reads the board's text up to its prompt. Without settleMs the prompt may be what it printed last
// already; with it (after Ctrl-C) only a prompt that comes now counts, once it stood that long
// without a byte after it. False on a time-out or a failed read.
bool ReadUpToPrompt(RS232* port, BoardText& text, uint32_t timeoutMs, uint32_t settleMs) {
  const WireTimer timer(port);
  bool anyByte = false;
  for (;;) {
    const bool atPrompt = (settleMs == 0 || anyByte) && AtPrompt(port->RecentInput());
    if (atPrompt && settleMs == 0) return true;
    const uint32_t elapsed = timer.ElapsedMs();
    if (!atPrompt && elapsed >= timeoutMs) return false;
    uint8_t byte = 0;
    const int got = ReadByteWithin(port, &byte, atPrompt ? settleMs : timeoutMs - elapsed);
    if (got < 0) return false;
    if (got == 1) {
      text.Add(byte);
      anyByte = true;
    } else if (atPrompt) {
      return true;
    }
  }
}

// Before the first character: the board waits at its prompt. On a port opened just now nothing was
// read: the board printed its prompt before, unless something is waiting still.
bool ReadyToType(RS232* port, BoardText& text) {
  if (!port->AnyInputRead()) {
    uint8_t byte = 0;
    const int got = ReadByteWithin(port, &byte, 1);
    if (got <= 0) return got == 0;
    text.Add(byte);
  }
  return ReadUpToPrompt(port, text, kPromptTimeoutMs, 0);
}

enum class Echo { kAsTyped, kDiffers, kMissing, kLineFailed };

// Reads the next byte of the echo, or none when kEchoTimeoutMs passed after what quiet counts from.
Echo NextEchoByte(RS232* port, const WireTimer& quiet, uint8_t* byte) {
  for (;;) {
    const uint32_t elapsed = quiet.ElapsedMs();
    if (elapsed >= kEchoTimeoutMs) return Echo::kMissing;
    const int got = ReadByteWithin(port, byte, kEchoTimeoutMs - elapsed);
    if (got < 0) return Echo::kLineFailed;
    if (got == 1) return Echo::kAsTyped;
  }
}

// One try: the command through a window of the FIFO's size, then its Enter. *at: where the echo
// went wrong (the command's length for its Enter).
Echo TypeOnce(RS232* port, const std::string& command, BoardText& text, size_t* at) {
  const std::string line = command + kEnter;
  size_t sent = 0;
  size_t echoed = 0;
  // The echo begins right after a prompt, or at once on a port where nothing was read: the board
  // printed its prompt before the port was opened. What comes before it is the board's text still
  // on its way: an empty line typed earlier and its prompt, the end of the last command's output.
  bool mayBegin = !port->AnyInputRead() || AtPrompt(port->RecentInput());
  WireTimer quiet(port);
  while (echoed < line.size()) {
    // The Enter only once the command came back whole.
    const size_t typable = echoed == command.size() ? line.size() : command.size();
    if (sent < typable && sent - echoed < kReceiveFifo) {
      const size_t count = std::min(typable - sent, kReceiveFifo - (sent - echoed));
      if (!WriteUnpaced(port, line.data() + sent, count)) return Echo::kLineFailed;
      sent += count;
      quiet = WireTimer(port);
    }
    uint8_t byte = 0;
    *at = echoed;
    const Echo next = NextEchoByte(port, quiet, &byte);
    if (next != Echo::kAsTyped) return next;
    text.Add(byte);
    if (echoed == 0 && !(mayBegin && byte == static_cast<uint8_t>(line[0]))) {
      // After a prompt only its blanks or an earlier empty line's line end may come first.
      if (mayBegin && byte != ' ' && byte != '\r' && byte != '\n') return Echo::kDiffers;
      mayBegin = AtPrompt(port->RecentInput());
      continue;
    }
    if (byte != static_cast<uint8_t>(line[echoed])) return Echo::kDiffers;
    ++echoed;
    quiet = WireTimer(port);
  }
  // The Enter's CR came back; its LF follows, perhaps after another CR.
  for (bool secondCr = false;;) {
    uint8_t byte = 0;
    const Echo next = NextEchoByte(port, quiet, &byte);
    if (next != Echo::kAsTyped) return next;
    text.Add(byte);
    if (byte == '\n') return Echo::kAsTyped;
    if (byte != '\r' || secondCr) return Echo::kDiffers;
    secondCr = true;
  }
}

std::string Shown(const std::string& command) {
  return "\"" + (command.size() > kCommandShown ? command.substr(0, kCommandShown) + "..." : command) + "\"";
}

std::string Where(const std::string& command, size_t at) {
  return at < command.size() ? "from character " + std::to_string(at + 1) + " on" : "at its Enter";
}

}  // namespace

bool TypeCommandAtEcho(RS232* port, const std::string& command) {
  BoardText text;
  if (!ReadyToType(port, text)) {
    text.Finish();
    ReportLine("Echo check: no U-Boot prompt came to type " + Shown(command) + " at.");
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    size_t at = 0;
    const Echo echo = TypeOnce(port, command, text, &at);
    if (echo == Echo::kAsTyped) return true;
    text.Finish();
    if (echo == Echo::kLineFailed) return false;
    const std::string line = "Echo check: " + Shown(command) +
                             (echo == Echo::kDiffers ? " came back otherwise " : " did not come back ") +
                             Where(command, at);
    if (attempt == kTries) {
      ReportLine(line + " in each of " + std::to_string(kTries) + " tries.");
      return false;
    }
    ReportLine(line + "; typing it again.");
    if (!WriteUnpaced(port, &kCtrlC, 1) || !ReadUpToPrompt(port, text, kInterruptTimeoutMs, kSettleMs)) {
      text.Finish();
      ReportLine("Echo check: no U-Boot prompt came after Ctrl-C.");
      return false;
    }
  }
}
