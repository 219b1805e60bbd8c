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
// How U-Boot tells a failed erase or write of a copy, in the words of its versions.
constexpr const char* kCopyFailures[] = {"FAIL", "ERROR", "Bad block"};
constexpr char kUBootPrompt[] = "B-Boot >";
// After the copies' prompt the line stays quiet this long: U-Boot reads a line end that came with
// the command at once.
constexpr uint32_t kQuietAfterCopiesMs = 250;
// Runs after the first that are waited out before the step gives up on U-Boot ever resting.
constexpr int kQuietTries = 4;

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

// The pause before a command: before each one when typing paced, before the first only when
// typing at the pace of the echo (both wait for U-Boot's prompt too).
void PauseBeforeCommand(bool first) {
  if (first || CurrentUBootTyping() == UBootTyping::kPaced) HostClock().SleepMs(kCommandPauseMs);
}

// Each command's line is shown as U-Boot's echo confirms it; typed paced, a bar shows how far the
// list got. saving hears of saveenv before it is typed. False when one was not taken.
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
// answer to each command is heard up to its prompt, typed either way: the next command's wait for
// the prompt would read a refusal and drop it.
bool TypeAgain(RS232* port, const std::map<std::string, TypedVariable>& typed,
               const std::vector<std::string>& differing, const std::map<std::string, std::string>& printed) {
  for (const std::string& name : differing) {
    PauseBeforeCommand(false);
    if (!TypeCommand(port, typed.at(name).command)) return false;
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

bool HoldsCopyFailure(const std::string& line) {
  for (const char* failure : kCopyFailures) {
    if (line.find(failure) != std::string::npos) return true;
  }
  return false;
}

// The copies end at U-Boot's prompt, and the line stays quiet after it. An empty line that reached
// U-Boot with the command (a line end doubled on the line) runs the copies once more right after
// the prompt: that run is waited out to its own prompt, and told, so that the next step's break
// never cuts a copy half written.
bool WaitOutCopies(RS232* port) {
  if (!WaitForText({kCopyFailures[0], kCopyFailures[1], kCopyFailures[2]}, kUBootPrompt, port, kCloneTimeoutMs))
    return false;
  int copiesAfter = 0;
  bool wentOn = false;
  for (int quietTries = 0; quietTries < kQuietTries; ++quietTries) {
    std::vector<std::string> lines;
    if (!ReadUntilQuiet(port, kQuietAfterCopiesMs, kCloneTimeoutMs * kKernelClones, &lines)) return false;
    if (lines.empty()) {
      if (wentOn) {
        ReportLine("Kernel copies: U-Boot ran the copies once more (" + std::to_string(copiesAfter) +
                   " written: OK after the tenth); that run ended at its prompt.");
      }
      return true;
    }
    if (!wentOn) {
      ReportLine("Kernel copies: U-Boot went on after its prompt (an empty line runs the copies once more); "
                 "waiting until it is done.");
    }
    wentOn = true;
    for (const std::string& line : lines) {
      if (HoldsCopyFailure(line)) return false;
      if (line.find("written: OK") != std::string::npos) ++copiesAfter;
    }
    if (lines.back().find(kUBootPrompt) != std::string::npos) continue;
    std::vector<std::string> rest;
    const bool ended = WaitForTextKeepingLines({kCopyFailures[0], kCopyFailures[1], kCopyFailures[2]}, kUBootPrompt,
                                               port, kCloneTimeoutMs * kKernelClones, &rest);
    for (const std::string& line : rest) {
      if (line.find("written: OK") != std::string::npos) ++copiesAfter;
    }
    if (!ended) return false;
  }
  ReportLine("Error: U-Boot does not come to rest after the kernel copies.");
  return false;
}

int CountClones(RS232* port) {
  if (!TypeCommand(port, "run make_nand_kernel_clones")) return 0;
  // A failed erase or write ends the step at once, in whichever words U-Boot says it.
  for (int clone = 0; clone < kKernelClones; ++clone) {
    if (!WaitForLine({"FAIL", "ERROR", "Bad block"}, "written: OK", port, kCloneTimeoutMs)) return 0;
  }
  return WaitOutCopies(port) ? 1 : 0;
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
