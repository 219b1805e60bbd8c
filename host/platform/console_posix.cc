#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "host/platform/console.h"

namespace {

bool IsTerminal(int fd) { return isatty(fd) == 1; }

// Puts the terminal of standard input into another mode and back on every exit.
class ScopedTerminalMode {
 public:
  explicit ScopedTerminalMode(tcflag_t clearedLocalFlags) {
    active_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (!active_) return;
    termios changed = saved_;
    changed.c_lflag &= ~clearedLocalFlags;
    changed.c_cc[VMIN] = 1;
    changed.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &changed);
  }
  ~ScopedTerminalMode() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  ScopedTerminalMode(const ScopedTerminalMode&) = delete;
  ScopedTerminalMode& operator=(const ScopedTerminalMode&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

class StandardInput : public ByteConsoleInput {
 public:
  int GetKey() override {
    if (!IsTerminal(STDIN_FILENO)) return ByteConsoleInput::GetKey();
    std::cout << std::flush;
    // Like _getch: one key, no echo, no Enter.
    ScopedTerminalMode raw(ICANON | ECHO);
    unsigned char key = 0;
    return read(STDIN_FILENO, &key, 1) == 1 ? key : -1;
  }

  bool ReadSecretWord(std::string* word, size_t maxLength) override {
    if (!IsTerminal(STDIN_FILENO)) return ReadWord(word, maxLength);
    ScopedTerminalMode noEcho(ECHO);
    return ReadWord(word, maxLength);
  }

 protected:
  int NextByte() override { return std::getc(stdin); }
  void PutBack(int byte) override { std::ungetc(byte, stdin); }
  void DropPendingInput() override {
    if (IsTerminal(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
  }
};

}  // namespace

void SetConsoleColour(int attribute) {
  if (!IsTerminal(STDOUT_FILENO)) return;
  // The nearest ANSI colours of the two console attributes: bright yellow and the default.
  std::cout << (attribute == kColourHighlight ? "\033[1;33m" : "\033[0m") << std::flush;
}

const char* ProgressFullBlock() { return "\xE2\x96\x88"; }

ConsoleInput& StandardConsoleInput() {
  static StandardInput input;
  return input;
}
