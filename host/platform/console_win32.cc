#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "host/platform/console.h"

namespace {

bool StdinIsConsole() { return _isatty(_fileno(stdin)) != 0; }

// Takes the echo off the console input and puts the old mode back on every exit.
class ScopedNoEcho {
 public:
  ScopedNoEcho() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    active_ = GetConsoleMode(input_, &saved_) != 0;
    if (active_) SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
  ~ScopedNoEcho() {
    if (active_) SetConsoleMode(input_, saved_);
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
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), static_cast<WORD>(attribute));
}

const char* ProgressFullBlock() { return "\xDB"; }

ConsoleInput& StandardConsoleInput() {
  static StandardInput input;
  return input;
}
