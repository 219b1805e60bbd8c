// Console answers for tests: the operator's keys and typed lines given as one text, read the way
// the program reads a piped standard input (a key is the next byte; words and lines as typed).
// Installed as the host console input for the life of the object.
//
//   ScriptedConsole console("N\nQV4N150101ABC\nr");  // refuse, retype the value, then retry
//   ... run the code under test ...
//   EXPECT_EQ(console.Remaining(), "");              // every answer was asked for
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/platform/console.h"

class ScriptedConsole : public ByteConsoleInput {
 public:
  explicit ScriptedConsole(std::string script = "");
  ~ScriptedConsole() override;
  ScriptedConsole(const ScriptedConsole&) = delete;
  ScriptedConsole& operator=(const ScriptedConsole&) = delete;

  // Appends more answers to the script.
  void Add(const std::string& more) { script_ += more; }
  // The answers not read yet.
  std::string Remaining() const { return script_.substr(position_); }

  // What the program asked for, in order: "key", "discard", "char", "word", "secret", "line".
  const std::vector<std::string>& Requests() const { return requests_; }
  // How often one kind of request was made.
  size_t CountRequests(const std::string& kind) const;

  int GetKey() override;
  void DiscardTypeAhead() override;
  int GetChar() override;
  bool ReadWord(std::string* word, size_t maxLength) override;
  bool ReadSecretWord(std::string* word, size_t maxLength) override;
  bool ReadLine(std::string* line, size_t maxLength) override;

 protected:
  int NextByte() override;
  void PutBack(int byte) override;

 private:
  std::string script_;
  size_t position_ = 0;
  std::vector<std::string> requests_;
};
