#include "host/platform/console.h"

#include <cctype>
#include <iostream>

namespace {

ConsoleInput* installedInput = nullptr;

bool IsSpace(int byte) { return byte >= 0 && std::isspace(static_cast<unsigned char>(byte)); }

}  // namespace

ConsoleInput& HostConsoleInput() { return installedInput ? *installedInput : StandardConsoleInput(); }

void SetConsoleInput(ConsoleInput* input) { installedInput = input; }

int ByteConsoleInput::NextLineByte() {
  const int byte = NextByte();
  if (byte >= 0) midLine_ = byte != '\n';
  return byte;
}

void ByteConsoleInput::DropRestOfLine() {
  while (midLine_) {
    if (NextLineByte() < 0) midLine_ = false;
  }
}

int ByteConsoleInput::GetKey() {
  std::cout << std::flush;
  // The rest of a line begun by a line-wise read (the line end after a typed word) sits in the
  // runtime's input buffer, which a key read on the console never sees: it is no key.
  DropRestOfLine();
  return NextByte();
}

void ByteConsoleInput::DiscardTypeAhead() {
  DropRestOfLine();
  DropPendingInput();
}

int ByteConsoleInput::GetChar() {
  std::cout << std::flush;
  return NextLineByte();
}

bool ByteConsoleInput::ReadWord(std::string* word, size_t maxLength) {
  std::cout << std::flush;
  word->clear();
  int byte = NextLineByte();
  while (IsSpace(byte)) byte = NextLineByte();
  if (byte < 0) return false;
  while (byte >= 0 && !IsSpace(byte) && word->size() < maxLength) {
    word->push_back(static_cast<char>(byte));
    byte = NextByte();
  }
  // The byte that ended the word stays for the next read, as scanf leaves it.
  if (byte >= 0) PutBack(byte);
  midLine_ = true;
  return true;
}

bool ByteConsoleInput::ReadSecretWord(std::string* word, size_t maxLength) {
  return ReadWord(word, maxLength);
}

bool ByteConsoleInput::ReadLine(std::string* line, size_t maxLength) {
  std::cout << std::flush;
  line->clear();
  while (line->size() < maxLength) {
    const int byte = NextLineByte();
    if (byte < 0) break;
    line->push_back(static_cast<char>(byte));
    if (byte == '\n') break;
  }
  return !line->empty();
}
