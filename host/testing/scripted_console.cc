#include "host/testing/scripted_console.h"

#include <algorithm>
#include <utility>

ScriptedConsole::ScriptedConsole(std::string script) : script_(std::move(script)) {
  SetConsoleInput(this);
}

ScriptedConsole::~ScriptedConsole() { SetConsoleInput(nullptr); }

size_t ScriptedConsole::CountRequests(const std::string& kind) const {
  return static_cast<size_t>(std::count(requests_.begin(), requests_.end(), kind));
}

int ScriptedConsole::GetKey() {
  requests_.push_back("key");
  return ByteConsoleInput::GetKey();
}

void ScriptedConsole::DiscardTypeAhead() {
  requests_.push_back("discard");
  ByteConsoleInput::DiscardTypeAhead();
}

int ScriptedConsole::GetChar() {
  requests_.push_back("char");
  return ByteConsoleInput::GetChar();
}

bool ScriptedConsole::ReadWord(std::string* word, size_t maxLength) {
  requests_.push_back("word");
  return ByteConsoleInput::ReadWord(word, maxLength);
}

bool ScriptedConsole::ReadSecretWord(std::string* word, size_t maxLength) {
  requests_.push_back("secret");
  return ByteConsoleInput::ReadWord(word, maxLength);
}

bool ScriptedConsole::ReadLine(std::string* line, size_t maxLength) {
  requests_.push_back("line");
  return ByteConsoleInput::ReadLine(line, maxLength);
}

int ScriptedConsole::NextByte() {
  if (position_ >= script_.size()) return -1;
  return static_cast<unsigned char>(script_[position_++]);
}

void ScriptedConsole::PutBack(int byte) {
  if (byte >= 0 && position_ > 0) --position_;
}
