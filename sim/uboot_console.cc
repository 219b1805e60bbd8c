#include "sim/uboot_console.h"

#include <cstdio>
#include <string>

namespace sim {

namespace {
constexpr Micros kSecond = 1000000;
}

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
  const int c = uart_.Receive(kNever);
  const Micros now = uart_.Now();
  const Faults& faults = board_.faults;
  // The lose-char fault: one character overrun in the UART, counted since the board started.
  if (++board_.promptCharacters == static_cast<unsigned long>(faults.loseCharacter)) {
    board_.events.push_back("u-boot: lost typed character " + std::to_string(board_.promptCharacters) +
                            " (fault)");
    ++board_.lostCharacters;
    return -1;
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
        uart_.Send("\r\n");
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
