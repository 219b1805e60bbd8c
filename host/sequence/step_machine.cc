#include "host/sequence/step_machine.h"

#include <iostream>
#include <map>
#include <string>

#include "host/link/log_file.h"
#include "host/platform/clock.h"
#include "host/platform/console.h"
#include "host/sequence/identity_backup.h"
#include "host/sequence/identity_choice.h"
#include "host/sequence/identity_record.h"
#include "host/sequence/operator_dialogue.h"
#include "host/sequence/run_report.h"
#include "host/sequence/unattended_console.h"

namespace {

// In the order of their numbers: Step(n) is step n.
enum class Step {
  kFindTarget,
  kBackupIdentity,
  kUploadFlasher,
  kFlashBootLoaders,
  kProgramEnvironment,
  kUploadKernel,
  kMakeKernelClones,
  kWatchSystemBoot,
  kUpdateKernelPackages,
  kSucceeded,
  kFailed,
};

// The operations' own names.
constexpr const char* kStepNames[] = {
    "DetectTarget", "BackupIdentity",   "UploadFlasher",   "FlashBootLoaders",     "ProgramEnvironment",
    "UploadKernel", "MakeKernelClones", "WatchSystemBoot", "UpdateKernelPackages",
};

// The flasher needs a moment to finish before the board is restarted into the new U-Boot.
constexpr uint32_t kPauseAfterFlashingMs = 1000;

class StepMachine {
 public:
  StepMachine(StepOperations& steps, OptionMap& options, const SwitchSet& switches, CommandList& commands,
              const RunSettings& settings)
      : steps_(steps), options_(options), switches_(switches), commands_(commands), settings_(settings) {}

  bool Run() {
    Step step = Step::kFindTarget;
    while (step != Step::kSucceeded && step != Step::kFailed) step = RunStep(step);
    Conclude(step);
    return step == Step::kSucceeded;
  }

 private:
  Step RunStep(Step step) {
    switch (step) {
      case Step::kFindTarget:
        return FindTarget();
      case Step::kBackupIdentity:
        return BackupAndChooseIdentity();
      case Step::kUploadFlasher:
        if (Try(step, [&] { return steps_.UploadFlasher(port_); })) return Step::kFlashBootLoaders;
        return RetryOrQuit(step, "Uploading failed!");
      case Step::kFlashBootLoaders:
        // The flasher a failed step 3 talked to may still wait for the rest of an image, and only
        // step 2 starts one afresh (its break restarts the board into the boot ROM).
        if (!Try(step, [&] { return steps_.FlashBootLoaders(port_); })) {
          return RetryOrQuit(Step::kUploadFlasher, "Flashing failed!");
        }
        HostClock().SleepMs(kPauseAfterFlashingMs);
        return Step::kProgramEnvironment;
      case Step::kProgramEnvironment:
        if (settings_.report) settings_.report->SetProgrammedIdentity(programmed_);
        if (Try(step,
                [&] { return steps_.ProgramEnvironment(port_, commands_, [this] { SavingIdentity(); }); }))
          return Step::kUploadKernel;
        return RetryOrQuit(step, "Setting U-Boot Environment failed!");
      case Step::kUploadKernel:
        if (Try(step, [&] { return steps_.UploadKernel(port_); })) return Step::kMakeKernelClones;
        return RetryOrQuit(step, "Uploading kernel failed!");
      case Step::kMakeKernelClones:
        if (!Try(step, [&] { return steps_.MakeKernelClones(port_); })) {
          return RetryOrQuit(step, "Flashing kernel failed!");
        }
        return Has("autologin") ? Step::kWatchSystemBoot : Step::kSucceeded;
      case Step::kWatchSystemBoot:
        if (!Try(step, [&] { return steps_.WatchSystemBoot(port_); })) {
          return RetryOrQuit(step, "Loading system failed!");
        }
        return Has("rpm") ? Step::kUpdateKernelPackages : Step::kSucceeded;
      case Step::kUpdateKernelPackages:
        return UpdateKernelPackages();
      case Step::kSucceeded:
      case Step::kFailed:
        break;
    }
    return step;
  }

  bool Has(const char* name) const { return switches_.count(name) != 0; }
  bool Unattended() const { return settings_.unattended != nullptr; }

  // One try of a step's operation, with its entry in the record. Port troubles of earlier tries
  // are forgotten, so that the record names the one that ended the run.
  template <typename Operation>
  bool Try(Step step, Operation operation) {
    current_ = step;
    const int number = static_cast<int>(step);
    ForgetPortTrouble();
    // The record knows the step before the station sees its line: a run stopped at once after the
    // line is stopped in that step.
    if (settings_.report) settings_.report->StepBegins(number, StepName(number));
    if (Unattended()) {
      // A station follows the run by these lines.
      const std::string line = "Step " + std::to_string(number) + ": " + StepName(number) + "\n";
      std::cout << line << std::flush;
      WriteLog(line);
    }
    const bool succeeded = operation() != 0;
    if (settings_.report) {
      settings_.report->StepEnds(number, succeeded);
      settings_.report->Save();  // the steps so far, for whoever follows the run
    }
    return succeeded;
  }

  // saveenv is about to be typed: from here on the board may hold the programmed identity, and the
  // record says so before U-Boot can have saved it (a run stopped now counts as written).
  void SavingIdentity() {
    if (settings_.report) settings_.report->SetIdentityWritten();
  }

  // The run's end in its record: the step that ended it and why, written at once (an operator may
  // close the window at the key wait that follows). Only the first end counts.
  void Conclude(Step end) {
    if (!settings_.report || concluded_) return;
    concluded_ = true;
    if (end == Step::kFailed) {
      settings_.report->SetFailedStep(StepName(static_cast<int>(current_)));
      if (!LastPortTrouble().empty()) settings_.report->SetError(LastPortTrouble());
    }
    const bool succeeded = end == Step::kSucceeded;
    settings_.report->End(succeeded ? RunReport::Result::kSucceeded : RunReport::Result::kFailed,
                          succeeded ? 0 : 1);
  }

  // Step 0: the port given with -p, else the first port a board answers on. Either way the port
  // is claimed for the whole run.
  Step FindTarget() {
    std::string refusal;
    std::string trouble;
    Try(Step::kFindTarget, [&] {
      const auto given = options_.find("com");
      if (given != options_.end()) {
        port_ = given->second;
        options_.erase(given);
        if (!port_.empty() && !steps_.ClaimPort(port_, &trouble)) {
          refusal = "Error: cannot use " + port_ + ": another BrenloFix run is using it.";
        }
      } else {
        port_ = steps_.DetectTarget();
      }
      return !port_.empty() && refusal.empty();
    });
    if (!port_.empty() && settings_.report) settings_.report->SetPort(port_);
    if (!refusal.empty()) {
      if (!trouble.empty()) {
        std::cout << std::endl << trouble;
        WriteLog(trouble + "\n");
      }
      if (settings_.report) settings_.report->SetError(trouble.empty() ? refusal : refusal + " " + trouble);
      return EndWithKeyWait(refusal, refusal + "\n", Step::kFailed);
    }
    if (port_.empty()) {
      return EndWithKeyWait(
          "Target device not found, close other connections to this ports, check cable "
          "connection.",
          "Target device not found, check cable connection.\n", Step::kFailed);
    }
    return Has("noflash") ? Step::kWatchSystemBoot : Step::kBackupIdentity;
  }

  // Step 1: back up the board's identity, then choose the one to program: the command line's,
  // else the backed-up one, else the fallback identity, else the factory identity. An unattended run
  // that was given neither an identity nor a fallback programs the factory identity only when
  // allowed to; otherwise a board without an identity of its own ends it here, before anything is
  // erased.
  Step BackupAndChooseIdentity() {
    const OptionMap& fallback = settings_.fallbackIdentity;
    const bool needsBoardIdentity =
        Unattended() && !HoldsIdentity(options_) && !HoldsIdentity(fallback) && !settings_.factoryIdentity;
    const WithoutIdentity without = needsBoardIdentity ? WithoutIdentity::kKeepNand : WithoutIdentity::kErase;
    OptionMap backup;
    bool backedUp = false;
    const bool usable = Try(Step::kBackupIdentity, [&] {
      backedUp = steps_.BackupIdentity(port_, backup, without) != 0;
      return backedUp && (!needsBoardIdentity || IsProgrammableIdentity(backup));
    });
    if (settings_.report) settings_.report->SetReadIdentity(backup, steps_.LackingIdentity());
    if (!backedUp) return EndWithKeyWait("Failed backup env.", "Failed backup env.\n", Step::kFailed);
    // Values U-Boot would not keep as typed are shown, and the board counts as one without an identity.
    if (HoldsIdentity(backup) && !IsProgrammableIdentity(backup)) {
      WarnUnprogrammableIdentity(backup);
      backup.clear();
    }
    if (!usable) {
      if (settings_.report) settings_.report->SetError(kNoIdentityGiven);
      return EndWithKeyWait(kNoIdentityGiven, std::string(kNoIdentityGiven) + "\n", Step::kFailed);
    }
    OptionMap chosen;
    OptionMap* source = &options_;
    if (!HoldsIdentity(options_)) {
      if (HoldsIdentity(backup)) {
        source = &backup;
      } else if (HoldsIdentity(fallback)) {
        chosen = fallback;
        source = &chosen;
        SayFallbackIdentity();
      } else {
        chosen = FactoryIdentity();
        source = &chosen;
        WarnBeforeFactoryIdentity(options_, backup);
      }
    }
    if (Has("interactive") && !ConfirmValues(*source)) {
      SetConsoleColour(kColourNormal);
      const std::string message = "Error: cannot read the operator's answer, the run ends.";
      std::cout << std::endl << message << std::endl;
      WriteLog(message + "\n");
      return Step::kFailed;
    }
    PrintIdentity(*source);
    AppendIdentityCommands(*source, commands_);
    programmed_ = {{"serialno", source->at("serialno")}, {"ethaddr", source->at("ethaddr")}};
    return Step::kUploadFlasher;
  }

  static void SayFallbackIdentity() {
    const std::string line =
        "The board holds no identity; the one given with --fallback-identity is programmed.";
    std::cout << std::endl << line << std::endl;
    WriteLog(line + "\n");
  }

  Step UpdateKernelPackages() {
    const Step step = Step::kUpdateKernelPackages;
    if (!Try(step, [&] { return steps_.UpdateKernelPackages(port_); })) {
      // A refused retry here leaves no line in the log.
      return TryAgain("Updating kernel failed!") ? step : Step::kFailed;
    }
    return EndWithKeyWait("Update kernel rpm(s) successful!", "Update kernel rpm(s) successful!\n",
                          Step::kSucceeded);
  }

  // A failed flashing step: "r" runs it again from its beginning (from retryFrom); anything else
  // logs the failure and ends the run.
  Step RetryOrQuit(Step retryFrom, const std::string& failure) {
    if (TryAgain(failure)) return retryFrom;
    WriteLog(failure + "\n");
    return Step::kFailed;
  }

  // After a failed try of the current step: true when it is to run again. The operator answers
  // the question; an unattended run tries again by itself while the step has retries left, and
  // ends at once after a question it had no answer for.
  bool TryAgain(const std::string& failure) {
    if (!Unattended()) return AskRetry(failure + " Press 'r' to retry or any key to quit..");
    if (settings_.unattended->AnswerMissing()) return false;
    int& used = retriesUsed_[current_];
    if (used >= settings_.retries) {
      std::cout << failure << " No retry left; the unattended run ends." << std::endl;
      return false;
    }
    ++used;
    const std::string line = failure + " Unattended run: retry " + std::to_string(used) + " of " +
                             std::to_string(settings_.retries) + ".\n";
    std::cout << line << std::flush;
    WriteLog(line);
    return true;
  }

  // Nobody presses a key in an unattended run: its end does not wait for one. The record of the
  // end is written before the key wait.
  Step EndWithKeyWait(const std::string& message, const std::string& logLine, Step end) {
    std::cout << std::endl << message << std::endl;
    WriteLog(logLine);
    Conclude(end);
    if (!Unattended()) WaitForAnyKey();
    return end;
  }

  StepOperations& steps_;
  OptionMap& options_;
  const SwitchSet& switches_;
  CommandList& commands_;
  const RunSettings& settings_;
  std::string port_;
  Step current_ = Step::kFindTarget;
  std::map<Step, int> retriesUsed_;
  OptionMap programmed_;  // the identity step 4 types
  bool concluded_ = false;
};

}  // namespace

const char* StepName(int step) { return step >= 0 && step <= 8 ? kStepNames[step] : ""; }

bool RunSteps(StepOperations& steps, OptionMap& options, const SwitchSet& switches, CommandList& commands,
              const RunSettings& settings) {
  return StepMachine(steps, options, switches, commands, settings).Run();
}
