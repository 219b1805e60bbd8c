#include "host/sequence/step_machine.h"

#include <iostream>
#include <string>

#include "host/link/log_file.h"
#include "host/platform/clock.h"
#include "host/platform/console.h"
#include "host/sequence/identity_choice.h"
#include "host/sequence/identity_record.h"
#include "host/sequence/operator_dialogue.h"

namespace {

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

// The flasher needs a moment to finish before the board is restarted into the new U-Boot.
constexpr uint32_t kPauseAfterFlashingMs = 1000;

class StepMachine {
 public:
  StepMachine(StepOperations& steps, OptionMap& options, const SwitchSet& switches,
              CommandList& commands)
      : steps_(steps), options_(options), switches_(switches), commands_(commands) {}

  bool Run() {
    Step step = Step::kFindTarget;
    while (step != Step::kSucceeded && step != Step::kFailed) step = RunStep(step);
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
        if (steps_.UploadFlasher(port_)) return Step::kFlashBootLoaders;
        return RetryOrQuit(step, "Uploading failed!");
      case Step::kFlashBootLoaders:
        // The flasher a failed step 3 talked to may still wait for the rest of an image, and only
        // step 2 starts one afresh (its break restarts the board into the boot ROM).
        if (!steps_.FlashBootLoaders(port_)) return RetryOrQuit(Step::kUploadFlasher, "Flashing failed!");
        HostClock().SleepMs(kPauseAfterFlashingMs);
        return Step::kProgramEnvironment;
      case Step::kProgramEnvironment:
        if (steps_.ProgramEnvironment(port_, commands_)) return Step::kUploadKernel;
        return RetryOrQuit(step, "Setting U-Boot Environment failed!");
      case Step::kUploadKernel:
        if (steps_.UploadKernel(port_)) return Step::kMakeKernelClones;
        return RetryOrQuit(step, "Uploading kernel failed!");
      case Step::kMakeKernelClones:
        if (!steps_.MakeKernelClones(port_)) return RetryOrQuit(step, "Flashing kernel failed!");
        return Has("autologin") ? Step::kWatchSystemBoot : Step::kSucceeded;
      case Step::kWatchSystemBoot:
        if (!steps_.WatchSystemBoot(port_)) return RetryOrQuit(step, "Loading system failed!");
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

  // Step 0: the port given with -p, else the first port a board answers on.
  Step FindTarget() {
    const auto given = options_.find("com");
    if (given != options_.end()) {
      port_ = given->second;
      options_.erase(given);
    } else {
      port_ = steps_.DetectTarget();
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
  // else the backed-up one, else the factory identity.
  Step BackupAndChooseIdentity() {
    OptionMap backup;
    if (!steps_.BackupIdentity(port_, backup)) {
      return EndWithKeyWait("Failed backup env.", "Failed backup env.\n", Step::kFailed);
    }
    OptionMap factory;
    OptionMap* source = &options_;
    if (!HoldsIdentity(options_)) {
      if (HoldsIdentity(backup)) {
        source = &backup;
      } else {
        factory = FactoryIdentity();
        source = &factory;
      }
    }
    WarnBeforeFactoryIdentity(options_, backup);
    if (Has("interactive") && !ConfirmValues(*source)) {
      SetConsoleColour(kColourNormal);
      const std::string message = "Error: cannot read the operator's answer, the run ends.";
      std::cout << std::endl << message << std::endl;
      WriteLog(message + "\n");
      return Step::kFailed;
    }
    PrintIdentity(*source);
    AppendIdentityCommands(*source, commands_);
    return Step::kUploadFlasher;
  }

  Step UpdateKernelPackages() {
    if (!steps_.UpdateKernelPackages(port_)) {
      // A refused retry here leaves no line in the log.
      return AskRetry("Updating kernel failed! Press 'r' to retry or any key to quit..")
                 ? Step::kUpdateKernelPackages
                 : Step::kFailed;
    }
    return EndWithKeyWait("Update kernel rpm(s) successful!",
                          "Update kernel rpm(s) successful!\n", Step::kSucceeded);
  }

  // A failed flashing step: "r" runs it again from its beginning (from retryFrom); anything else
  // logs the failure and ends the run.
  Step RetryOrQuit(Step retryFrom, const std::string& failure) {
    if (AskRetry(failure + " Press 'r' to retry or any key to quit..")) return retryFrom;
    WriteLog(failure + "\n");
    return Step::kFailed;
  }

  Step EndWithKeyWait(const std::string& message, const std::string& logLine, Step end) {
    std::cout << std::endl << message << std::endl;
    WriteLog(logLine);
    WaitForAnyKey();
    return end;
  }

  StepOperations& steps_;
  OptionMap& options_;
  const SwitchSet& switches_;
  CommandList& commands_;
  std::string port_;
};

}  // namespace

bool RunSteps(StepOperations& steps, OptionMap& options, const SwitchSet& switches,
              CommandList& commands) {
  return StepMachine(steps, options, switches, commands).Run();
}
