#include "sim/uboot_console.h"

#include <cstdio>
#include <string>

#include "sim/firmware_io.h"

namespace sim {

bool CountDownAutoboot(Uart& uart, int bootDelay) {
  if (bootDelay < 0) return false;
  char text[64];
  std::snprintf(text, sizeof text, "Hit any key to stop autoboot: %2d ", bootDelay);
  uart.Send(text);
  bool stopped = false;
  if (uart.HasInput()) {
    uart.Receive(0);
    uart.Send("\b\b\b 0");
    stopped = true;
  }
  while (bootDelay > 0 && !stopped) {
    --bootDelay;
    const Micros end = uart.Now() + kSecond;
    // Waits the rest of this second for a key; U-Boot polls every 10 ms, a key ends the wait.
    while (uart.Now() < end) {
      if (uart.Receive(end - uart.Now()) >= 0) {
        stopped = true;
        bootDelay = 0;
        break;
      }
    }
    std::snprintf(text, sizeof text, "\b\b\b%2d ", bootDelay);
    uart.Send(text);
  }
  uart.Send("\n");
  return stopped;
}

int LineEditor::NextCharacter() {
  if (doubled_ >= 0) {  // the double-char fault's second copy
    const int c = doubled_;
    doubled_ = -1;
    return c;
  }
  int c = uart_.Receive(kNever);
  const Micros now = uart_.Now();
  const Faults& faults = board_.faults;
  if (hung_) return -1;
  // The line faults, each on one character counted since the board started: overrun in the UART,
  // received twice, received with a bit flipped; or the console hangs from there on.
  const unsigned long n = ++board_.promptCharacters;
  const auto hits = [n](int which) { return n == static_cast<unsigned long>(which); };
  const std::string which = "typed character " + std::to_string(n) + " (fault)";
  if (hits(faults.loseCharacter)) {
    Note(board_, "u-boot: lost " + which);
    ++board_.lostCharacters;
    return -1;
  }
  if (hits(faults.hangAtCharacter)) {
    Note(board_, "u-boot: the console hangs at " + which);
    hung_ = true;
    return -1;
  }
  if (hits(faults.doubleCharacter)) {
    Note(board_, "u-boot: received twice " + which);
    doubled_ = c;
  }
  if (hits(faults.changeCharacter)) {
    Note(board_, "u-boot: received with a bit flipped " + which);
    c ^= 1;
  }
  // The drop-faster fault: a console that needs that long after each character it takes.
  const bool tooFast = faults.dropFasterThanMs > 0 && anyTaken_ &&
                       now - lastTaken_ < static_cast<Micros>(faults.dropFasterThanMs) * 1000;
  if (tooFast) {
    ++board_.lostCharacters;
    return -1;
  }
  lastTaken_ = now;
  anyTaken_ = true;
  return c;
}

std::optional<std::string> LineEditor::ReadLine(const std::string& prompt) {
  uart_.Send(prompt);
  std::string line;
  for (;;) {
    const int c = NextCharacter();
    if (c < 0) continue;
    switch (c) {
      case '\r':
      case '\n':
        uart_.Send("\r\n");  // CR CR LF on the line: the serial driver adds its CR
        return line;
      case 0x03:  // Ctrl-C abandons the line
        return std::nullopt;
      case 0x15:  // Ctrl-U erases it
        while (!line.empty()) {
          line.pop_back();
          uart_.Send("\b \b");
        }
        break;
      case 0x08:
      case 0x7F:
        if (!line.empty()) {
          line.pop_back();
          uart_.Send("\b \b");
        }
        break;
      default:
        if (line.size() < kConsoleBufferSize - 2) {
          line.push_back(static_cast<char>(c));
          uart_.Send(std::string(1, static_cast<char>(c)));
        } else {
          uart_.Send("\a");
        }
    }
  }
}

}  // namespace sim
