// The answers of an unattended run, behind the console seam: the login typed as a word, the
// password as a secret word, the proxy as a line. No key is ever waited for. A question without
// an answer (the board asks for a password and BRENLOFIX_PASSWORD is empty) prints why, answers
// end of input, and is remembered, so that the step machine ends the run instead of retrying.
#pragma once

#include <optional>
#include <string>

#include "host/platform/console.h"

class UnattendedConsole : public ConsoleInput {
 public:
  UnattendedConsole(std::optional<std::string> login, std::optional<std::string> password,
                    std::optional<std::string> proxy);
  ~UnattendedConsole() override;  // puts the platform's console input back
  UnattendedConsole(const UnattendedConsole&) = delete;
  UnattendedConsole& operator=(const UnattendedConsole&) = delete;

  // Installs itself as the host's console input for its lifetime.
  void Install();

  // True once a question came that this run has no answer for.
  bool AnswerMissing() const { return answerMissing_; }

  int GetKey() override;
  void DiscardTypeAhead() override {}
  int GetChar() override;
  bool ReadWord(std::string* word, size_t maxLength) override;
  bool ReadSecretWord(std::string* word, size_t maxLength) override;
  bool ReadLine(std::string* line, size_t maxLength) override;

 private:
  bool Missing(const std::string& what);

  std::optional<std::string> login_;
  std::optional<std::string> password_;
  std::optional<std::string> proxy_;
  bool installed_ = false;
  bool answerMissing_ = false;
};
