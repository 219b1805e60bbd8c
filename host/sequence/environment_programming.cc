#include "host/sequence/environment_programming.h"

#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"
#include "host/sequence/environment_check.h"
#include "host/sequence/kernel_copies_check.h"
#include "host/sequence/identity_record.h"

namespace {

constexpr uint32_t kBootStageTimeoutMs = 10000;
constexpr uint32_t kCommandPauseMs = 500;
constexpr uint32_t kSaveTimeoutMs = 10000;
constexpr uint32_t kReadBackTimeoutMs = 10000;
// A round's line names this many differing variables at most, so that it stays a log line.
constexpr size_t kNamesShown = 6;
constexpr uint32_t kCloneTimeoutMs = 10000;
// saveenv's answer; U-Boot prints it around the NAND write, so only the ended line counts.
constexpr char kSaved[] = "Writing to Nand... done";
constexpr int kKernelClones = 10;

// From the break to the U-Boot prompt; the countdown is stopped by typing line ends.
bool CatchBootAtPrompt(RS232* port) {
  if (!WaitForText(" BOOTME", "UBL Version:", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText("Bad", "Valid", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText("FAIL", "DONE", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText(" BOOTME", "NAND", port, kBootStageTimeoutMs)) return false;
  Type(port, "\r\n\r\n");
  if (!WaitForText(" BOOTME", "Hit any key to stop autoboot:", port, kBootStageTimeoutMs)) return false;
  return WaitForText("BOOTME", "B-Boot >", port, kBootStageTimeoutMs);
}

// The pause before a command: before each one when typing blind, before the first only when
// typing at the pace of the echo, which waits for U-Boot's prompt instead.
void PauseBeforeCommand(bool first) {
  if (first || CurrentUBootTyping() == UBootTyping::kPaced) HostClock().SleepMs(kCommandPauseMs);
}

// Typed blind, the list is not read: the echo and U-Boot's answers queue up in the receive buffer
// and the final wait reads through them, and a bar shows how far the typing got. At the pace of
// the echo each command's line is shown as U-Boot confirms it. saving hears of saveenv before it is
// typed. False when one was not taken.
bool TypeCommands(RS232* port, const CommandList& commands, const std::function<void()>& saving) {
  const bool paced = CurrentUBootTyping() == UBootTyping::kPaced;
  const unsigned count = static_cast<unsigned>(commands.size());
  for (unsigned i = 0; i < count; ++i) {
    PauseBeforeCommand(i == 0);
    if (saving && commands[i] == "saveenv") saving();
    if (!TypeCommand(port, commands[i])) return false;
    if (paced) ShowProgress(TypingPercent(i, count));
  }
  return true;
}

// printenv, and its name=value lines up to the prompt after them. False when its echo or the
// prompt after it did not come in time.
bool ReadEnvironment(RS232* port, std::map<std::string, std::string>* printed) {
  if (!TypeCommand(port, "printenv")) return false;
  // Typed blind, our own command's echo first: the prompts before it answered the commands typed
  // earlier. At the pace of the echo that is read already.
  if (CurrentUBootTyping() == UBootTyping::kPaced &&
      !WaitForText(nullptr, "printenv", port, kReadBackTimeoutMs))
    return false;
  std::vector<std::string> lines;
  if (!WaitForTextKeepingLines({}, "B-Boot >", port, kReadBackTimeoutMs, &lines)) return false;
  *printed = PrintedVariables(lines);
  return true;
}

// Some U-Boots keep ethaddr once it is set and answer a setenv of it with "Can't overwrite
// "ethaddr"": typing it again never changes it, so the step ends with words that say why.
std::string Refusal(const std::string& name) { return "Can't overwrite \"" + name + "\""; }

// True (after the line that says so) when a line U-Boot printed refuses one of names.
bool SayRefused(const std::vector<std::string>& lines, const std::vector<std::string>& names,
                const std::map<std::string, std::string>& printed) {
  for (const std::string& line : lines) {
    for (const std::string& name : names) {
      if (line.find(Refusal(name)) == std::string::npos) continue;
      const auto held = printed.find(name);
      ReportLine("Error: U-Boot refuses to change " + name + " once it is set (\"" + Refusal(name) +
                 "\"): the board keeps " + (held == printed.end() ? name + " as it was" : name + " = " + held->second) +
                 "; a U-Boot built so cannot be given another one from its console.");
      return true;
    }
  }
  return false;
}

// The variables that differ, each with its own command as in the list, then saveenv. U-Boot's
// answers are heard: at the pace of the echo after each command (the echo is read already), typed
// blind in the wait for saveenv's answer, which reads through them all.
bool TypeAgain(RS232* port, const std::map<std::string, TypedVariable>& typed,
               const std::vector<std::string>& differing, const std::map<std::string, std::string>& printed) {
  const bool paced = CurrentUBootTyping() == UBootTyping::kPaced;
  for (const std::string& name : differing) {
    PauseBeforeCommand(false);
    if (!TypeCommand(port, typed.at(name).command)) return false;
    if (paced) continue;
    std::vector<std::string> lines;
    const std::string refusal = Refusal(name);
    if (!WaitForTextKeepingLines({refusal.c_str()}, "B-Boot >", port, kReadBackTimeoutMs, &lines)) {
      SayRefused(lines, differing, printed);
      return false;
    }
  }
  PauseBeforeCommand(false);
  if (!TypeCommand(port, "saveenv")) return false;
  std::vector<std::string> lines;
  std::vector<std::string> refusals;
  for (const std::string& name : differing) refusals.push_back(Refusal(name));
  // A refusal ends the wait at once; the list of failure texts takes the first few.
  const char* fails[3] = {nullptr, nullptr, nullptr};
  for (size_t i = 0; i < refusals.size() && i < 3; ++i) fails[i] = refusals[i].c_str();
  if (WaitForLine({fails[0], fails[1], fails[2]}, kSaved, port, kSaveTimeoutMs, &lines)) return true;
  SayRefused(lines, differing, printed);
  return false;
}

std::string Names(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) text += (i > 0 ? ", " : "") + names[i];
  if (names.size() > kNamesShown) text += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return text;
}

// Reads the saved environment back and types again what differs, for up to rounds reads. One line
// per round on the console and in the log.
bool CheckEnvironment(RS232* port, const CommandList& commands, int rounds) {
  const std::map<std::string, TypedVariable> typed = TypedVariables(commands);
  for (int round = 1; round <= rounds; ++round) {
    const bool last = round == rounds;
    std::map<std::string, std::string> printed;
    if (!ReadEnvironment(port, &printed)) {
      ReportLine(std::string("Environment check: no answer to printenv") + (last ? "." : "; asking again."));
      continue;
    }
    const std::vector<std::string> differing = DifferingVariables(typed, printed);
    if (differing.empty()) {
      ReportLine("Environment check: " + std::to_string(typed.size()) + " of " +
                 std::to_string(typed.size()) + " variables as typed.");
      return true;
    }
    const bool one = differing.size() == 1;
    std::string line = "Environment check: " + std::to_string(differing.size()) +
                       (one ? " variable differs (" : " variables differ (") + Names(differing) + ")";
    if (last) {
      ReportLine(line + " after " + std::to_string(rounds) + " checks.");
      break;
    }
    ReportLine(line + (one ? "; typing it again." : "; typing them again."));
    if (!TypeAgain(port, typed, differing, printed)) return false;
  }
  return false;
}

// The identity lines of the list, as U-Boot now holds them.
OptionMap IdentityTyped(const CommandList& commands) {
  OptionMap identity;
  for (const char* name : {"serialno", "ethaddr"}) {
    const std::string prefix = std::string("setenv ") + name + " ";
    for (const std::string& command : commands) {
      if (command.compare(0, prefix.size(), prefix) == 0) identity[name] = command.substr(prefix.size());
    }
  }
  return identity;
}

int ProgramOnOpenPort(RS232* port, const CommandList& commands, int checkRounds,
                      const std::function<void()>& saving) {
  port->pacedWrite = 1;
  port->SendBreak();
  if (!CatchBootAtPrompt(port)) return 0;
  std::cout << "\n\t\t\tSetting U-Boot Enviroment.." << std::endl;
  if (!TypeCommands(port, commands, saving)) return 0;
  std::cout << std::endl;
  if (!WaitForLine({}, kSaved, port, kSaveTimeoutMs)) return 0;
  std::cout << std::endl;
  // A character lost on the line leaves a wrong variable that saveenv saves all the same.
  if (checkRounds > 0 && !CheckEnvironment(port, commands, checkRounds)) return 0;
  // Saved: a record of what the unit has become.
  const OptionMap identity = IdentityTyped(commands);
  if (!identity.empty()) LogProgrammedIdentity(identity);
  return 1;
}

int CountClones(RS232* port) {
  if (!TypeCommand(port, "run make_nand_kernel_clones")) return 0;
  // A failed erase or write ends the step at once, in whichever words U-Boot says it.
  for (int clone = 0; clone < kKernelClones; ++clone) {
    if (!WaitForLine({"FAIL", "ERROR", "Bad block"}, "written: OK", port, kCloneTimeoutMs)) return 0;
  }
  return 1;
}

}  // namespace

unsigned TypingPercent(unsigned index, unsigned count) {
  // A list of one command would divide by zero; its only command is the last.
  if (count <= 1) return 100;
  return index * 100u / (count - 1);
}

int ProgramEnvironment(const char* portName, const CommandList& commands, int checkRounds,
                       const std::function<void()>& saving) {
  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  int result = ProgramOnOpenPort(port.get(), commands, checkRounds, saving);
  port->Close();
  return result;
}

int MakeKernelClones(const char* portName) {
  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  int result = CountClones(port.get()) && ProveKernelCopies(port.get(), ProgrammedKernelSlots());
  std::cout << std::endl;
  port->Close();
  return result;
}
