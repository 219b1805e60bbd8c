#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "host/platform/console.h"

namespace {

bool IsTerminal(int fd) { return isatty(fd) == 1; }

// The terminal as a mode change found it, for an ending in the middle of that change, and whether
// the text colour is not the default one.
struct TerminalState {
  std::mutex mutex;
  bool modeChanged = false;
  termios mode{};
  std::atomic<bool> coloured{false};
};

TerminalState& Terminal() {
  static TerminalState state;
  return state;
}

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
    std::lock_guard<std::mutex> lock(Terminal().mutex);
    Terminal().mode = saved_;
    Terminal().modeChanged = true;
    tcsetattr(STDIN_FILENO, TCSANOW, &changed);
  }
  ~ScopedTerminalMode() {
    if (!active_) return;
    std::lock_guard<std::mutex> lock(Terminal().mutex);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    Terminal().modeChanged = false;
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
  Terminal().coloured = attribute == kColourHighlight;
  std::cout << (attribute == kColourHighlight ? "\033[1;33m" : "\033[0m") << std::flush;
}

void RestoreConsole() {
  {
    std::lock_guard<std::mutex> lock(Terminal().mutex);
    if (Terminal().modeChanged) tcsetattr(STDIN_FILENO, TCSANOW, &Terminal().mode);
    Terminal().modeChanged = false;
  }
  if (Terminal().coloured.exchange(false)) std::cout << "\033[0m" << std::flush;
}

// The C library buffers a terminal's output by the line already.
void BufferConsoleOutput() {}

const char* ProgressFullBlock() { return "\xE2\x96\x88"; }

ConsoleInput& StandardConsoleInput() {
  static StandardInput input;
  return input;
}
