#include "host/sequence/identity_choice.h"

#include <cstdio>
#include <iostream>

#include "host/link/log_file.h"
#include "host/platform/console.h"
#include "host/sequence/command_line.h"

OptionMap FactoryIdentity() {
  return OptionMap{{"ethaddr", "02:1B:4D:00:00:00"}, {"serialno", "QV4N150101XXX"}};
}

const char kNoIdentityGiven[] =
    "The board holds no serial number and MAC address, and none was given: give -m and -s, or "
    "--factory-identity to program the placeholder.";

bool HoldsIdentity(const OptionMap& map) {
  return map.count("serialno") == 1 && map.count("ethaddr") == 1;
}

bool IsProgrammableIdentity(const OptionMap& map) {
  return HoldsIdentity(map) && IsSerialNumber(map.at("serialno")) && IsMacAddress(map.at("ethaddr"));
}

namespace {

// A value as it can be shown on any console: quoted, with other bytes than printable ASCII as \xNN.
std::string Shown(const std::string& value) {
  std::string shown = "'";
  for (unsigned char c : value) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown + "'";
}

}  // namespace

void WarnUnprogrammableIdentity(const OptionMap& read) {
  std::string values;
  for (const char* key : {"serialno", "ethaddr"}) {
    const auto found = read.find(key);
    if (found == read.end()) continue;
    values += std::string(values.empty() ? "" : ", ") + key + " = " + Shown(found->second);
  }
  const std::string line = "Warning: the identity read from the board (" + values +
                           ") is not one U-Boot keeps as typed; it is not programmed back.";
  SetConsoleColour(kColourHighlight);
  std::cout << std::endl << line;
  SetConsoleColour(kColourNormal);
  std::cout << std::endl;
  WriteLog(line + "\n");
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
