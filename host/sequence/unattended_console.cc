#include "host/sequence/unattended_console.h"

#include <iostream>
#include <utility>

#include "host/sequence/station_options.h"

UnattendedConsole::UnattendedConsole(std::optional<std::string> login, std::optional<std::string> password,
                                     std::optional<std::string> proxy)
    : login_(std::move(login)), password_(std::move(password)), proxy_(std::move(proxy)) {}

UnattendedConsole::~UnattendedConsole() {
  if (installed_) SetConsoleInput(nullptr);
}

void UnattendedConsole::Install() {
  SetConsoleInput(this);
  installed_ = true;
}

bool UnattendedConsole::Missing(const std::string& what) {
  std::cout << std::endl << "Error: an unattended run has no answer for " << what << "." << std::endl;
  answerMissing_ = true;
  return false;
}

// Nobody is there to press a key: every key question is answered as a refusal, at once.
int UnattendedConsole::GetKey() { return -1; }

int UnattendedConsole::GetChar() {
  Missing("a question on the console");
  return -1;
}

bool UnattendedConsole::ReadWord(std::string* word, size_t maxLength) {
  if (!login_ || login_->empty()) return Missing("the login (--login)");
  *word = login_->substr(0, maxLength);
  std::cout << *word << std::endl;  // shown as a person's typing would be
  return true;
}

bool UnattendedConsole::ReadSecretWord(std::string* word, size_t maxLength) {
  if (!password_ || password_->empty()) {
    return Missing(std::string("the password: the board asks for one and ") + kPasswordVariable +
                   " is empty");
  }
  *word = password_->substr(0, maxLength);
  return true;
}

bool UnattendedConsole::ReadLine(std::string* line, size_t maxLength) {
  if (!proxy_) return Missing("the proxy (--proxy)");
  // The proxy may carry a user and password: it is typed to the board but not shown.
  *line = (*proxy_ + "\n").substr(0, maxLength);
  std::cout << std::endl;
  return true;
}
