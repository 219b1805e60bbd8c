#include "host/sequence/operator_dialogue.h"

#include <iostream>

#include "host/platform/console.h"
#include "host/sequence/command_line.h"

namespace {

// Longer than any valid identity value; a longer word is read in pieces and each piece is refused.
constexpr size_t kMaxTypedValue = 254;

enum class Answer { kConfirm, kRetype, kEndOfInput };

Answer AskConfirmation(const std::string& key, const std::string& value) {
  ConsoleInput& input = HostConsoleInput();
  for (;;) {
    // Type-ahead is dropped before the question shows, so that an answer typed as soon as it
    // shows is not lost with it.
    input.DiscardTypeAhead();
    SetConsoleColour(kColourHighlight);
    std::cout << "'" << key << "' is '" << value << "' Confirm? [Y/N]: " << std::flush;
    const int answer = input.GetChar();
    if (answer < 0) return Answer::kEndOfInput;
    if (answer == 'Y' || answer == 'y') return Answer::kConfirm;
    if (answer == 'N' || answer == 'n') return Answer::kRetype;
  }
}

// Asks for the entry until the operator types a valid value. Only the retyped entry is checked:
// an invalid value confirmed earlier (one read back from the board) must not lock the dialogue.
bool RetypeValue(const std::string& key, std::string& value) {
  for (;;) {
    SetConsoleColour(kColourHighlight);
    std::cout << "Enter " << key << ": " << std::flush;
    std::string typed;
    if (!HostConsoleInput().ReadWord(&typed, kMaxTypedValue)) return false;
    if (ValidateOptions(OptionMap{{key, typed}})) {
      value = typed;
      return true;
    }
  }
}

}  // namespace

bool ConfirmValues(OptionMap& map) {
  for (auto& [key, value] : map) {
    switch (AskConfirmation(key, value)) {
      case Answer::kConfirm:
        break;
      case Answer::kRetype:
        if (!RetypeValue(key, value)) return false;
        break;
      case Answer::kEndOfInput:
        return false;
    }
  }
  return true;
}

bool AskRetry(const std::string& question) {
  std::cout << question << std::endl;
  return HostConsoleInput().GetKey() == 'r';
}

void WaitForAnyKey() {
  std::cout << "Press any key.." << std::endl;
  HostConsoleInput().GetKey();
}
