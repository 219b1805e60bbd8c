#include "host/link/echo_typing.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/link/console_lines.h"
#include "host/link/rs232.h"
#include "host/platform/clock.h"

namespace {

// The prompt U-Boot prints before it reads a line; blanks may follow it.
constexpr char kPrompt[] = "B-Boot >";
// The board's UART receive FIFO: the most characters that may be on their way unechoed.
constexpr size_t kReceiveFifo = 16;
constexpr int kTries = 4;  // the first and three more
// Counted from the moment the line has carried the last character typed or brought the last echo.
constexpr uint32_t kEchoTimeoutMs = 1000;
// Typed paced, for servers that hold the board's text back a while.
constexpr uint32_t kPacedEchoTimeoutMs = 3000;
// The quiet after a command's echo before its Enter.
constexpr uint64_t kMinSettleBeforeEnterMs = 5;
constexpr uint64_t kMaxSettleBeforeEnterMs = 50;
// Typed paced one by one: a character every 10 ms, as the port's paced writes go.
constexpr uint32_t kPacedKeyMs = 10;
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

// A key as the port paces its writes: 10 ms after it when pacedWrite is on.
bool WritePaced(RS232* port, const char* data, size_t length) {
  uint32_t written = 0;
  const int ok = port->Write(data, static_cast<uint32_t>(length), &written, 0);
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

enum class Echo { kAsTyped, kDiffers, kLonger, kMissing, kLineFailed };

// Reads the next byte of the echo, or none when timeoutMs passed after what quiet counts from.
Echo NextEchoByte(RS232* port, const WireTimer& quiet, uint32_t timeoutMs, uint8_t* byte) {
  for (;;) {
    const uint32_t elapsed = quiet.ElapsedMs();
    if (elapsed >= timeoutMs) return Echo::kMissing;
    const int got = ReadByteWithin(port, byte, timeoutMs - elapsed);
    if (got < 0) return Echo::kLineFailed;
    if (got == 1) return Echo::kAsTyped;
  }
}

// How long the line must stay quiet after the command's echo before the Enter may go: two
// characters' time on the line and the echo's jitter measured on this port, within bounds.
uint32_t SettleBeforeEnterMs(const RS232& port) {
  const uint64_t ns = 2 * port.CharacterNs() + uint64_t{port.EchoJitterMs()} * 1000000u;
  const uint64_t ms = (ns + 999999u) / 1000000u;
  return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(ms, kMinSettleBeforeEnterMs),
                                                  kMaxSettleBeforeEnterMs));
}

// One try at typing a command: its characters, the quiet after their echo, then its Enter.
class Try {
 public:
  Try(RS232* port, const std::string& command, UBootTyping typing, BoardText& text)
      : port_(port),
        command_(command),
        text_(text),
        paced_(typing == UBootTyping::kPaced),
        oneByOne_(paced_ && port->pacedWrite != 0),
        echoTimeoutMs_(paced_ ? kPacedEchoTimeoutMs : kEchoTimeoutMs),
        leftLine_(command.size(), 0),
        nextKeyAt_(HostClock().TickMs()) {}

  // *at: where the echo went wrong (the command's length for what follows it and for its Enter).
  Echo Run(size_t* at) {
    const Echo command = TypeCommandEchoed(at);
    if (command != Echo::kAsTyped) return command;
    *at = command_.size();
    const Echo quiet = AwaitQuiet();
    if (quiet != Echo::kAsTyped) return quiet;
    return TypeEnter();
  }

 private:
  uint32_t Now() const { return HostClock().TickMs(); }

  // Whether the next of the command's characters may go now: the FIFO has room for it, and typed
  // one by one, its 10 ms after the last one have passed.
  size_t Typable() const {
    if (sent_ == command_.size() || sent_ - echoed_ >= kReceiveFifo) return 0;
    if (oneByOne_) return static_cast<int32_t>(Now() - nextKeyAt_) >= 0 ? 1 : 0;
    if (paced_) return command_.size() - sent_;  // as the port is set: all at once
    return std::min(command_.size() - sent_, kReceiveFifo - (sent_ - echoed_));
  }

  // Writes count characters, and notes when each will have left the line.
  bool Send(size_t count) {
    if (!WriteUnpaced(port_, command_.data() + sent_, count)) return false;
    const uint32_t lastLeaves = Now() + port_->LineBacklogMs();
    for (size_t i = 0; i < count; ++i) {
      const uint64_t behindNs = uint64_t{count - 1 - i} * port_->CharacterNs();
      leftLine_[sent_ + i] = lastLeaves - static_cast<uint32_t>(behindNs / 1000000u);
    }
    sent_ += count;
    nextKeyAt_ = Now() + kPacedKeyMs;
    return true;
  }

  // The command's characters, each compared as it comes back.
  Echo TypeCommandEchoed(size_t* at) {
    // The echo begins right after a prompt, or at once on a port where nothing was read: the
    // board printed its prompt before the port was opened. What comes before it is the board's
    // text still on its way: an empty line typed earlier and its prompt, the end of the last
    // command's output.
    bool mayBegin = !port_->AnyInputRead() || AtPrompt(port_->RecentInput());
    WireTimer quiet(port_);
    while (echoed_ < command_.size()) {
      *at = echoed_;
      const size_t count = Typable();
      if (count > 0) {
        if (!Send(count)) return Echo::kLineFailed;
        quiet = WireTimer(port_);
      }
      // Typed one by one, the echo is read in the pause before the next character.
      const bool keyDue = oneByOne_ && sent_ < command_.size() && sent_ - echoed_ < kReceiveFifo;
      uint8_t byte = 0;
      int got = 0;
      if (keyDue) {
        const int32_t left = static_cast<int32_t>(nextKeyAt_ - Now());
        got = ReadByteWithin(port_, &byte, left > 0 ? static_cast<uint32_t>(left) : 1);
        if (got < 0) return Echo::kLineFailed;
        if (got == 0) continue;
      } else {
        const Echo next = NextEchoByte(port_, quiet, echoTimeoutMs_, &byte);
        if (next != Echo::kAsTyped) return next;
      }
      text_.Add(byte);
      if (echoed_ == 0 && !(mayBegin && byte == static_cast<uint8_t>(command_[0]))) {
        // After a prompt only its blanks or an earlier empty line's line end may come first.
        if (mayBegin && byte != ' ' && byte != '\r' && byte != '\n') return Echo::kDiffers;
        mayBegin = AtPrompt(port_->RecentInput());
        continue;
      }
      if (byte != static_cast<uint8_t>(command_[echoed_])) return Echo::kDiffers;
      const int32_t delay = static_cast<int32_t>(Now() - leftLine_[echoed_]);
      port_->NoteEchoDelay(delay > 0 ? static_cast<uint32_t>(delay) : 0);
      ++echoed_;
      quiet = WireTimer(port_);
    }
    return Echo::kAsTyped;
  }

  // The command came back whole: nothing more may come before the Enter (typed one by one, not
  // before the 10 ms after the last character either).
  Echo AwaitQuiet() {
    uint32_t quietMs = SettleBeforeEnterMs(*port_);
    const int32_t keyDue = static_cast<int32_t>(nextKeyAt_ - Now());
    if (oneByOne_ && keyDue > static_cast<int32_t>(quietMs)) quietMs = static_cast<uint32_t>(keyDue);
    uint8_t byte = 0;
    const int got = ReadByteWithin(port_, &byte, quietMs);
    if (got < 0) return Echo::kLineFailed;
    if (got == 0) return Echo::kAsTyped;
    text_.Add(byte);
    return Echo::kLonger;
  }

  // The Enter, paced as the port is set when typing paced; its CR comes back, then its LF, perhaps
  // after another CR.
  Echo TypeEnter() {
    const bool written = paced_ ? WritePaced(port_, &kEnter, 1) : WriteUnpaced(port_, &kEnter, 1);
    if (!written) return Echo::kLineFailed;
    const WireTimer quiet(port_);
    uint8_t byte = 0;
    Echo next = NextEchoByte(port_, quiet, echoTimeoutMs_, &byte);
    if (next != Echo::kAsTyped) return next;
    text_.Add(byte);
    if (byte != kEnter) return Echo::kDiffers;
    for (bool secondCr = false;;) {
      next = NextEchoByte(port_, quiet, echoTimeoutMs_, &byte);
      if (next != Echo::kAsTyped) return next;
      text_.Add(byte);
      if (byte == '\n') return Echo::kAsTyped;
      if (byte != '\r' || secondCr) return Echo::kDiffers;
      secondCr = true;
    }
  }

  RS232* port_;
  const std::string& command_;
  BoardText& text_;
  const bool paced_;
  const bool oneByOne_;
  const uint32_t echoTimeoutMs_;
  std::vector<uint32_t> leftLine_;  // the tick when each typed character had left the line
  size_t sent_ = 0;
  size_t echoed_ = 0;
  uint32_t nextKeyAt_;
};

// Ctrl-C clears U-Boot's line; only a prompt that comes after it and stands counts.
bool ClearLine(RS232* port, UBootTyping typing, BoardText& text) {
  const bool written = typing == UBootTyping::kPaced ? WritePaced(port, &kCtrlC, 1) : WriteUnpaced(port, &kCtrlC, 1);
  return written && ReadUpToPrompt(port, text, kInterruptTimeoutMs, kSettleMs);
}

std::string Shown(const std::string& command) {
  return "\"" + (command.size() > kCommandShown ? command.substr(0, kCommandShown) + "..." : command) + "\"";
}

std::string Where(const std::string& command, size_t at) {
  return at < command.size() ? "from character " + std::to_string(at + 1) + " on" : "at its Enter";
}

std::string WhatCameBack(Echo echo, const std::string& command, size_t at) {
  switch (echo) {
    case Echo::kLonger:
      return " came back with more after it";
    case Echo::kDiffers:
      return " came back otherwise " + Where(command, at);
    default:
      return " did not come back " + Where(command, at);
  }
}

}  // namespace

bool TypeCheckedCommand(RS232* port, const std::string& command, UBootTyping typing) {
  BoardText text;
  if (!ReadyToType(port, text)) {
    text.Finish();
    ReportLine("Echo check: no U-Boot prompt came to type " + Shown(command) + " at.");
    return false;
  }
  if (!port->UBootLineCleared()) {
    if (!ClearLine(port, typing, text)) {
      text.Finish();
      ReportLine("Echo check: no U-Boot prompt came after Ctrl-C.");
      return false;
    }
    port->NoteUBootLineCleared();
  }
  for (int attempt = 1;; ++attempt) {
    size_t at = 0;
    const Echo echo = Try(port, command, typing, text).Run(&at);
    if (echo == Echo::kAsTyped) return true;
    text.Finish();
    if (echo == Echo::kLineFailed) return false;
    const std::string line = "Echo check: " + Shown(command) + WhatCameBack(echo, command, at);
    if (attempt == kTries) {
      ReportLine(line + " in each of " + std::to_string(kTries) + " tries.");
      return false;
    }
    ReportLine(line + "; typing it again.");
    if (!ClearLine(port, typing, text)) {
      text.Finish();
      ReportLine("Echo check: no U-Boot prompt came after Ctrl-C.");
      return false;
    }
  }
}
