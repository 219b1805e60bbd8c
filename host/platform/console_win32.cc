#include <conio.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "host/platform/console.h"

namespace {

bool StdinIsConsole() { return _isatty(_fileno(stdin)) != 0; }

// The console as a mode change found it, for an ending in the middle of that change, and the text
// colour the program found.
struct ConsoleState {
  std::mutex mutex;
  bool modeChanged = false;
  DWORD mode = 0;
  std::once_flag colourSaved;
  std::atomic<bool> colourChanged{false};
  WORD colour = kColourNormal;
};

ConsoleState& State() {
  static ConsoleState state;
  return state;
}

// Takes the echo off the console input and puts the old mode back on every exit.
class ScopedNoEcho {
 public:
  ScopedNoEcho() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    active_ = GetConsoleMode(input_, &saved_) != 0;
    if (!active_) return;
    std::lock_guard<std::mutex> lock(State().mutex);
    State().mode = saved_;
    State().modeChanged = true;
    SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
  ~ScopedNoEcho() {
    if (!active_) return;
    std::lock_guard<std::mutex> lock(State().mutex);
    SetConsoleMode(input_, saved_);
    State().modeChanged = false;
  }
  ScopedNoEcho(const ScopedNoEcho&) = delete;
  ScopedNoEcho& operator=(const ScopedNoEcho&) = delete;

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool active_ = false;
};

class StandardInput : public ByteConsoleInput {
 public:
  int GetKey() override {
    if (!StdinIsConsole()) return ByteConsoleInput::GetKey();
    std::cout << std::flush;
    const int key = _getch();
    // Arrow and function keys come as a prefix and a code: one key press, one answer.
    if (key == 0 || key == 0xE0) _getch();
    return key;
  }

  bool ReadSecretWord(std::string* word, size_t maxLength) override {
    if (!StdinIsConsole()) return ReadWord(word, maxLength);
    ScopedNoEcho noEcho;
    return ReadWord(word, maxLength);
  }

 protected:
  int NextByte() override { return std::getc(stdin); }
  void PutBack(int byte) override { std::ungetc(byte, stdin); }
  void DropPendingInput() override {
    if (StdinIsConsole()) FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
  }
};

}  // namespace

void SetConsoleColour(int attribute) {
  // What is still buffered was written in the old colour.
  std::cout << std::flush;
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  std::call_once(State().colourSaved, [output] {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(output, &info)) State().colour = info.wAttributes;
  });
  State().colourChanged = true;
  SetConsoleTextAttribute(output, static_cast<WORD>(attribute));
}

void RestoreConsole() {
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    if (State().modeChanged) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), State().mode);
    State().modeChanged = false;
  }
  if (!State().colourChanged.exchange(false)) return;
  std::cout << std::flush;
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), State().colour);
}

void BufferConsoleOutput() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16); }

const char* ProgressFullBlock() { return "\xDB"; }

ConsoleInput& StandardConsoleInput() {
  static StandardInput input;
  return input;
}
