#include "host/sequence/identity_choice.h"

#include <iostream>

#include "host/platform/console.h"

OptionMap FactoryIdentity() {
  return OptionMap{{"ethaddr", "02:1B:4D:00:00:00"}, {"serialno", "QV4N150101XXX"}};
}

bool HoldsIdentity(const OptionMap& map) {
  return map.count("serialno") == 1 && map.count("ethaddr") == 1;
}

void PrintIdentity(const OptionMap& identity) {
  for (const auto& [key, value] : identity) {
    SetConsoleColour(kColourHighlight);
    std::cout << key << " = " << value;
    SetConsoleColour(kColourNormal);
    std::cout << std::endl;
  }
}

void AppendIdentityCommands(const OptionMap& identity, CommandList& commands) {
  commands.push_back("setenv serialno " + identity.at("serialno"));
  commands.push_back("setenv ethaddr " + identity.at("ethaddr"));
  commands.push_back("saveenv");
}
