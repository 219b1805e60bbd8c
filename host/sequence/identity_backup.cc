#include "host/sequence/identity_backup.h"

#include <iostream>
#include <memory>
#include <string>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"
#include "host/sequence/identity_choice.h"
#include "host/sequence/identity_record.h"

namespace {

constexpr uint32_t kAfterBreakMs = 500;
constexpr uint32_t kBootStageTimeoutMs = 10000;
constexpr uint32_t kPromptTimeoutMs = 5000;

// The UBL's report and U-Boot's countdown, up to the prompt; the failure texts carry their exact
// spacing (the prompt wait looks for "BOOTME" without the leading space).
bool FollowBootToPrompt(RS232* port) {
  if (!WaitForText("Bad", "Valid", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText("FAIL", "DONE", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText(" BOOTME", "NAND", port, kBootStageTimeoutMs)) return false;
  Type(port, "\n\n");  // stops the autoboot countdown when it comes
  if (!WaitForText(" BOOTME", "Hit any key to stop autoboot:", port, kPromptTimeoutMs)) return false;
  return WaitForText("BOOTME", "B-Boot >", port, kPromptTimeoutMs);
}

// printenv of one variable; the value is logged as soon as it is read, so that a run that fails
// later still leaves a record of what the board was. U-Boot's "not defined" is an answer too: the
// board holds no such value, and the log says so (in words no identity search takes for a value).
bool ReadVariable(RS232* port, const std::string& name, OptionMap& backup, std::vector<std::string>& lacking) {
  if (!TypeCommand(port, "printenv " + name)) return false;
  std::string value;
  const std::string notDefined = "## Error: \"" + name + "\" not defined";
  const int answer = WaitForValue(value, port, (name + "=").c_str(), notDefined.c_str());
  if (answer == 0) return false;
  if (answer < 0) {
    lacking.push_back(name);
    LogIdentityLacking(name);
    return true;
  }
  backup.insert({name, value});
  LogIdentityValue(name, value);
  return true;
}

int BackupOnOpenPort(RS232* port, OptionMap& backup, WithoutIdentity without, std::vector<std::string>& lacking) {
  port->pacedWrite = 1;
  port->SendBreak();
  HostClock().SleepMs(kAfterBreakMs);
  if (!WaitForText(" BOOTME", "UBL Version:", port, kBootStageTimeoutMs)) {
    // The boot ROM announced serial boot, or nothing came: there is no boot loader to read from.
    LogNoIdentityOnBoard();
    return 1;
  }
  if (!FollowBootToPrompt(port)) return 0;
  std::cout << std::endl;
  LogIdentityHeading();
  if (!ReadVariable(port, "serialno", backup, lacking)) return 0;
  if (!ReadVariable(port, "ethaddr", backup, lacking)) return 0;
  if (!lacking.empty()) SayIdentityLacking(lacking);
  if (without == WithoutIdentity::kKeepNand && !IsProgrammableIdentity(backup)) return 1;
  // Erased only after both values are safe in the backup map. U-Boot 1.x words a failed erase
  // "ERROR", others "FAIL".
  if (!TypeCommand(port, "nand erase 0x00000000 0x00080000")) return 0;
  return WaitForLine({"FAIL", "ERROR"}, "OK", port, kBootStageTimeoutMs) ? 1 : 0;
}

}  // namespace

int BackupIdentity(const char* portName, OptionMap& backup, WithoutIdentity without,
                   std::vector<std::string>* lacking) {
  if (lacking) lacking->clear();
  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  std::vector<std::string> lacked;
  int result = BackupOnOpenPort(port.get(), backup, without, lacked);
  if (lacking) *lacking = lacked;
  port->Close();
  return result;
}
