#include "host/sequence/identity_record.h"

#include <iostream>

#include "host/link/log_file.h"
#include "host/platform/console.h"

namespace {

bool HoldsIdentity(const OptionMap& map) { return map.count("serialno") != 0 && map.count("ethaddr") != 0; }

}  // namespace

void LogIdentityHeading() { WriteLog("Identity read from the board:\n"); }

void LogIdentityValue(const std::string& name, const std::string& value) {
  WriteLog(name + " = " + value + "\n");
}

void LogNoIdentityOnBoard() { WriteLog("The board showed no boot loader: no identity was read.\n"); }

bool WarnBeforeFactoryIdentity(const OptionMap& options, const OptionMap& backup) {
  if (HoldsIdentity(options) || HoldsIdentity(backup)) return false;
  const char* lines[] = {
      "Warning: the board reports no identity; the factory identity will be programmed.\n",
      "To keep the board's own values, run again with -m MAC and -s serial number, or with -i to confirm or "
      "retype them.\n",
  };
  SetConsoleColour(kColourHighlight);
  std::cout << std::endl;
  for (const char* line : lines) std::cout << line;
  std::cout.flush();
  SetConsoleColour(kColourNormal);
  for (const char* line : lines) WriteLog(line);
  return true;
}

void LogProgrammedIdentity(const OptionMap& identity) {
  WriteLog("Identity programmed:\n");
  for (const char* key : {"serialno", "ethaddr"}) {
    auto found = identity.find(key);
    if (found != identity.end()) LogIdentityValue(found->first, found->second);
  }
}
