#include "host/sequence/step_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/log_file.h"
#include "host/sequence/default_environment.h"
#include "host/sequence/unattended_console.h"
#include "host/testing/scripted_console.h"
#include "host/testing/virtual_clock.h"
#include "host/testing/temp_path.h"

namespace {

// Step results given in advance, step by step; every call is recorded with its port.
class ScriptedSteps : public StepOperations {
 public:
  std::string detectedPort = "COM3";
  OptionMap backupToGive;
  std::map<std::string, std::deque<int>> results;  // by operation name; an empty queue fails
  std::vector<std::string> calls;
  std::vector<CommandList> typedEnvironments;

  std::string DetectTarget() override {
    calls.push_back("DetectTarget");
    return detectedPort;
  }
  std::vector<WithoutIdentity> backupAsked;  // what each backup was to do without an identity
  int BackupIdentity(const std::string& port, OptionMap& backup, WithoutIdentity without) override {
    backupAsked.push_back(without);
    backup = backupToGive;
    return Result("BackupIdentity", port);
  }
  int UploadFlasher(const std::string& port) override { return Result("UploadFlasher", port); }
  int FlashBootLoaders(const std::string& port) override {
    return Result("FlashBootLoaders", port);
  }
  int ProgramEnvironment(const std::string& port, const CommandList& commands,
                         const std::function<void()>& /*saving*/) override {
    typedEnvironments.push_back(commands);
    return Result("ProgramEnvironment", port);
  }
  int UploadKernel(const std::string& port) override { return Result("UploadKernel", port); }
  int MakeKernelClones(const std::string& port) override {
    return Result("MakeKernelClones", port);
  }
  int WatchSystemBoot(const std::string& port) override { return Result("WatchSystemBoot", port); }
  int UpdateKernelPackages(const std::string& port) override {
    return Result("UpdateKernelPackages", port);
  }

  // Every operation from the backup to the clones succeeds once.
  void FlashingSucceeds() {
    for (const char* name : {"BackupIdentity", "UploadFlasher", "FlashBootLoaders",
                             "ProgramEnvironment", "UploadKernel", "MakeKernelClones"}) {
      results[name].push_back(1);
    }
  }

 private:
  int Result(const std::string& name, const std::string& port) {
    calls.push_back(name + "@" + port);
    auto& queue = results[name];
    if (queue.empty()) {
      ADD_FAILURE() << name << " was called more often than scripted";
      return 0;
    }
    const int result = queue.front();
    queue.pop_front();
    return result;
  }
};

const std::vector<std::string> kFlashingCalls = {
    "DetectTarget",           "BackupIdentity@COM3", "UploadFlasher@COM3",
    "FlashBootLoaders@COM3",  "ProgramEnvironment@COM3", "UploadKernel@COM3",
    "MakeKernelClones@COM3"};

// One run of the step machine with its console output, its log file and the virtual time it took.
class StepMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One file per test and process: CTest runs the tests of this program in parallel processes.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names hold slashes
    logPath_ = UniqueTempPath(name + ".log");
    ReopenLog();
    FillDefaultEnvironment(commands);
  }
  void TearDown() override {
    CloseLogFile();
    std::remove(logPath_.c_str());
  }

  // A fresh log for the next run within one test.
  void ReopenLog() { ASSERT_TRUE(OpenLogFile(logPath_)); }

  bool Run(const std::string& answers = "", const RunSettings& settings = RunSettings()) {
    ScriptedConsole console(answers);
    std::ostringstream captured;
    std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
    const uint64_t start = clock_.clock().NowMs();
    const bool succeeded = RunSteps(steps, options, switches, commands, settings);
    std::cout.rdbuf(saved);
    elapsedMs = clock_.clock().NowMs() - start;
    // Colours are terminal codes only when the tests run on a terminal.
    output = std::regex_replace(captured.str(), std::regex("\033\\[[0-9;]*m"), "");
    unreadAnswers = console.Remaining();
    keysRead = console.CountRequests("key");
    CloseLogFile();
    std::ifstream file(logPath_, std::ios::binary);
    log.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return succeeded;
  }

  ScriptedSteps steps;
  OptionMap options;
  SwitchSet switches;
  CommandList commands;
  std::string output;
  std::string log;
  std::string unreadAnswers;
  size_t keysRead = 0;
  uint64_t elapsedMs = 0;

 private:
  ScopedVirtualClock clock_;
  std::string logPath_;
};

TEST_F(StepMachineTest, AFlashingRunProgramsTheBackedUpIdentityAndEndsSilently) {
  steps.backupToGive = {{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101042"}};
  steps.FlashingSucceeds();
  EXPECT_TRUE(Run());
  EXPECT_EQ(steps.calls, kFlashingCalls);
  EXPECT_EQ(output, "ethaddr = 02:1B:4D:12:34:56\nserialno = QV4N150101042\n");
  EXPECT_EQ(log, "");
  EXPECT_EQ(keysRead, 0u);
  EXPECT_EQ(elapsedMs, 1000u);  // the pause after flashing the boot loaders
  ASSERT_EQ(steps.typedEnvironments.size(), 1u);
  const CommandList& typed = steps.typedEnvironments[0];
  ASSERT_EQ(typed.size(), 31u);
  EXPECT_EQ(typed[0], "setenv ipaddr 192.168.102.30");
  EXPECT_EQ(typed[28], "setenv serialno QV4N150101042");
  EXPECT_EQ(typed[29], "setenv ethaddr 02:1B:4D:12:34:56");
  EXPECT_EQ(typed[30], "saveenv");
}

TEST_F(StepMachineTest, TheCommandLineIdentityWinsAndAGivenPortSkipsDetection) {
  options = {{"com", "/dev/ttyUSB1"}, {"ethaddr", "02:1B:4D:00:00:07"}, {"serialno", "SN7"}};
  steps.backupToGive = {{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101042"}};
  steps.FlashingSucceeds();
  EXPECT_TRUE(Run());
  ASSERT_EQ(steps.calls.size(), 6u);
  EXPECT_EQ(steps.calls.front(), "BackupIdentity@/dev/ttyUSB1");  // the backup still runs
  EXPECT_EQ(steps.calls.back(), "MakeKernelClones@/dev/ttyUSB1");
  EXPECT_EQ(options.count("com"), 0u);
  EXPECT_EQ(output, "ethaddr = 02:1B:4D:00:00:07\nserialno = SN7\n");
  EXPECT_EQ(commands[28], "setenv serialno SN7");
  EXPECT_EQ(commands[29], "setenv ethaddr 02:1B:4D:00:00:07");
}

TEST_F(StepMachineTest, WithoutACompleteIdentityTheFactoryOneIsProgrammed) {
  for (const OptionMap& backup : {OptionMap{}, OptionMap{{"serialno", "QV4N150101042"}}}) {
    steps = ScriptedSteps();
    steps.backupToGive = backup;
    steps.FlashingSucceeds();
    commands.clear();
    FillDefaultEnvironment(commands);
    ReopenLog();
    EXPECT_TRUE(Run());
    // The operator is warned before the factory identity replaces the board's own.
    EXPECT_EQ(output, "\nWarning: the board reports no identity; the factory identity will be programmed.\n"
              "To keep the board's own values, run again with -m MAC and -s serial number, or with -i to "
              "confirm or retype them.\n"
              "ethaddr = 02:1B:4D:00:00:00\nserialno = QV4N150101XXX\n");
    ASSERT_EQ(commands.size(), 31u);
    EXPECT_EQ(commands[28], "setenv serialno QV4N150101XXX");
    EXPECT_EQ(commands[29], "setenv ethaddr 02:1B:4D:00:00:00");
  }
}

TEST_F(StepMachineTest, NoBoardFoundEndsAfterAKey) {
  for (const std::string& port : {std::string(), std::string("given-empty")}) {
    steps = ScriptedSteps();
    options.clear();
    if (port.empty()) {
      steps.detectedPort = "";
    } else {
      options["com"] = "";  // -p "" names no port
    }
    ReopenLog();
    EXPECT_FALSE(Run("xy"));
    EXPECT_EQ(output,
              "\nTarget device not found, close other connections to this ports, check cable "
              "connection.\nPress any key..\n");
    EXPECT_EQ(log, "Target device not found, check cable connection.\r\n");
    EXPECT_EQ(unreadAnswers, "y");
    EXPECT_EQ(steps.calls.size(), port.empty() ? 1u : 0u);
  }
}

TEST_F(StepMachineTest, AFailedBackupEndsWithoutARetry) {
  steps.results["BackupIdentity"] = {0};
  EXPECT_FALSE(Run("r"));
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"DetectTarget", "BackupIdentity@COM3"}));
  EXPECT_EQ(output, "\nFailed backup env.\nPress any key..\n");
  EXPECT_EQ(log, "Failed backup env.\r\n");
  EXPECT_EQ(unreadAnswers, "");
  EXPECT_EQ(commands.size(), kDefaultCommandCount);
}

struct RetriedStep {
  const char* operation;
  const char* failure;  // the question's and the log line's first part
  size_t callIndex;     // where the step's call falls in a -al flashing run
  const char* rerunFirst = nullptr;  // the step that a retry runs again before this one
};

class FlashingStepFailure : public StepMachineTest,
                            public ::testing::WithParamInterface<RetriedStep> {
 protected:
  void SetUp() override {
    StepMachineTest::SetUp();
    switches = {"autologin"};
    steps.backupToGive = {{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101042"}};
    steps.FlashingSucceeds();
    steps.results["WatchSystemBoot"] = {1};
    auto& queue = steps.results[GetParam().operation];
    queue.clear();
  }
  std::string Question() const {
    return std::string(GetParam().failure) + " Press 'r' to retry or any key to quit..\n";
  }
};

TEST_P(FlashingStepFailure, RIsARetryOfTheStep) {
  steps.results[GetParam().operation] = {0, 0, 1};
  std::vector<std::string> expected = kFlashingCalls;
  expected.push_back("WatchSystemBoot@COM3");
  // Each failed try, then what "r" runs before the step itself.
  std::vector<std::string> failedTry = {expected[GetParam().callIndex]};
  if (GetParam().rerunFirst) {
    steps.results[GetParam().rerunFirst].insert(steps.results[GetParam().rerunFirst].end(), {1, 1});
    failedTry.push_back(std::string(GetParam().rerunFirst) + "@COM3");
  }
  for (int i = 0; i < 2; ++i)
    expected.insert(expected.begin() + GetParam().callIndex, failedTry.begin(), failedTry.end());
  EXPECT_TRUE(Run("rr"));
  EXPECT_EQ(steps.calls, expected);
  EXPECT_NE(output.find(Question() + Question()), std::string::npos) << output;
  EXPECT_EQ(log, "");
  EXPECT_EQ(unreadAnswers, "");
}

TEST_P(FlashingStepFailure, AnyOtherKeyQuitsWithALogLine) {
  // "x", an upper-case "R", Enter and the end of input all refuse; the "r" after them is never read.
  for (const std::string answers : {"xr", "Rr", "\nr", ""}) {
    steps.calls.clear();
    steps.results[GetParam().operation] = {0};
    commands.resize(kDefaultCommandCount);
    ReopenLog();
    EXPECT_FALSE(Run(answers));
    EXPECT_EQ(steps.calls.back(), std::string(GetParam().operation) + "@COM3");
    ASSERT_GE(output.size(), Question().size());
    EXPECT_EQ(output.substr(output.size() - Question().size()), Question()) << answers;
    EXPECT_EQ(log, std::string(GetParam().failure) + "\r\n");
    EXPECT_EQ(unreadAnswers, answers.empty() ? "" : "r");
    steps.FlashingSucceeds();  // the steps before the failing one, for the next answer
    steps.results[GetParam().operation].clear();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps2To7, FlashingStepFailure,
    ::testing::Values(RetriedStep{"UploadFlasher", "Uploading failed!", 2},
                      // The flasher a failed step 3 talked to may wait for the rest of an image:
                      // step 2 restarts the board and uploads a fresh one first.
                      RetriedStep{"FlashBootLoaders", "Flashing failed!", 3, "UploadFlasher"},
                      RetriedStep{"ProgramEnvironment", "Setting U-Boot Environment failed!", 4},
                      RetriedStep{"UploadKernel", "Uploading kernel failed!", 5},
                      RetriedStep{"MakeKernelClones", "Flashing kernel failed!", 6},
                      RetriedStep{"WatchSystemBoot", "Loading system failed!", 7}),
    [](const ::testing::TestParamInfo<RetriedStep>& info) { return info.param.operation; });

TEST_F(StepMachineTest, ARetriedEnvironmentTypesTheSame31CommandsAgain) {
  steps.backupToGive = {{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101042"}};
  steps.FlashingSucceeds();
  steps.results["ProgramEnvironment"] = {0, 1};
  EXPECT_TRUE(Run("r"));
  ASSERT_EQ(steps.typedEnvironments.size(), 2u);
  EXPECT_EQ(steps.typedEnvironments[0].size(), 31u);
  EXPECT_EQ(steps.typedEnvironments[0], steps.typedEnvironments[1]);
}

TEST_F(StepMachineTest, ThePauseAfterFlashingComesOncePerSuccess) {
  steps.FlashingSucceeds();
  steps.results["FlashBootLoaders"] = {0, 0, 1};
  steps.results["UploadFlasher"] = {1, 1, 1};
  EXPECT_TRUE(Run("rr"));
  EXPECT_EQ(elapsedMs, 1000u);
}

TEST_F(StepMachineTest, AutoLoginGoesOnToTheBootWatchAndEndsThere) {
  switches = {"autologin"};
  steps.FlashingSucceeds();
  steps.results["WatchSystemBoot"] = {1};
  EXPECT_TRUE(Run());
  EXPECT_EQ(steps.calls.back(), "WatchSystemBoot@COM3");
  EXPECT_EQ(steps.calls.size(), 8u);
  EXPECT_EQ(keysRead, 0u);
}

TEST_F(StepMachineTest, NoFlashGoesFromDetectionStraightToTheBootWatch) {
  switches = {"noflash"};
  options = {{"ethaddr", "02:1B:4D:00:00:07"}, {"serialno", "SN7"}};
  steps.results["WatchSystemBoot"] = {1};
  EXPECT_TRUE(Run());
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"DetectTarget", "WatchSystemBoot@COM3"}));
  EXPECT_EQ(output, "");
  EXPECT_EQ(commands.size(), kDefaultCommandCount);
}

TEST_F(StepMachineTest, ThePackageUpdateEndsWithItsMessageAndAKey) {
  switches = {"noflash", "autologin", "rpm"};
  steps.results["WatchSystemBoot"] = {1};
  steps.results["UpdateKernelPackages"] = {0, 1};
  EXPECT_TRUE(Run("rk"));
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"DetectTarget", "WatchSystemBoot@COM3",
                                                   "UpdateKernelPackages@COM3",
                                                   "UpdateKernelPackages@COM3"}));
  EXPECT_EQ(output,
            "Updating kernel failed! Press 'r' to retry or any key to quit..\n"
            "\nUpdate kernel rpm(s) successful!\nPress any key..\n");
  EXPECT_EQ(log, "Update kernel rpm(s) successful!\r\n");
  EXPECT_EQ(unreadAnswers, "");
}

TEST_F(StepMachineTest, ARefusedPackageUpdateLeavesNoLogLine) {
  switches = {"noflash", "autologin", "rpm"};
  steps.results["WatchSystemBoot"] = {1};
  steps.results["UpdateKernelPackages"] = {0};
  EXPECT_FALSE(Run("R"));
  EXPECT_EQ(output, "Updating kernel failed! Press 'r' to retry or any key to quit..\n");
  EXPECT_EQ(log, "");
}

TEST_F(StepMachineTest, InteractiveModeConfirmsTheChosenIdentity) {
  switches = {"interactive"};
  steps.backupToGive = {{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101042"}};
  steps.FlashingSucceeds();
  EXPECT_TRUE(Run("y\nN\nQV4N150101043\n"));
  EXPECT_EQ(output,
            "'ethaddr' is '02:1B:4D:12:34:56' Confirm? [Y/N]: "
            "'serialno' is 'QV4N150101042' Confirm? [Y/N]: Enter serialno: "
            "ethaddr = 02:1B:4D:12:34:56\nserialno = QV4N150101043\n");
  EXPECT_EQ(commands[28], "setenv serialno QV4N150101043");
  EXPECT_EQ(commands[29], "setenv ethaddr 02:1B:4D:12:34:56");
}

TEST_F(StepMachineTest, InputEndingDuringTheConfirmationEndsTheRun) {
  switches = {"interactive"};
  steps.results["BackupIdentity"] = {1};
  EXPECT_FALSE(Run("Y\n"));
  EXPECT_EQ(steps.calls, (std::vector<std::string>{"DetectTarget", "BackupIdentity@COM3"}));
  EXPECT_EQ(output,
            "\nWarning: the board reports no identity; the factory identity will be programmed.\n"
              "To keep the board's own values, run again with -m MAC and -s serial number, or with -i to "
              "confirm or retype them.\n"
            "'ethaddr' is '02:1B:4D:00:00:00' Confirm? [Y/N]: "
            "'serialno' is 'QV4N150101XXX' Confirm? [Y/N]: "
            "\nError: cannot read the operator's answer, the run ends.\n");
  EXPECT_EQ(log,
            "Warning: the board reports no identity; the factory identity will be programmed.\r\n"
            "To keep the board's own values, run again with -m MAC and -s serial number, or with -i to "
            "confirm or retype them.\r\n"
            "Error: cannot read the operator's answer, the run ends.\r\n");
  EXPECT_EQ(commands.size(), kDefaultCommandCount);
}

// An unattended run given no identity never programs the factory one by itself: a board without
// an identity of its own (none, or one U-Boot would not keep as typed) ends the run in step 1, and
// the backup is told to leave NAND as it is. --factory-identity, -m and -s, or a fallback identity
// let it go on; the fallback goes only to a board without an identity it keeps. An operator's run
// goes on as before, with the warning. (The line and the record: station_run_test.py.)
TEST_F(StepMachineTest, AnUnattendedRunProgramsNoPlaceholderUnlessAllowed) {
  const OptionMap unkept{{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N 01;reset"}};
  const OptionMap own{{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101ABC"}};
  const OptionMap given{{"ethaddr", "02:1B:4D:00:00:07"}, {"serialno", "SN7"}};
  const OptionMap fallback{{"ethaddr", "02:1B:4D:00:00:2A"}, {"serialno", "QV4N1501000042"}};
  UnattendedConsole answers(std::nullopt, std::nullopt, std::nullopt);
  struct Case {
    OptionMap backup;
    bool unattended;
    bool factoryIdentity;
    OptionMap given;
    const char* programmed;  // null: the run ends in step 1
    OptionMap fallback;
  };
  const std::vector<Case> cases = {{{}, true, false, {}, nullptr, {}},
                                   {unkept, true, false, {}, nullptr, {}},
                                   {{}, true, true, {}, "QV4N150101XXX", {}},
                                   {unkept, false, false, {}, "QV4N150101XXX", {}},
                                   {unkept, true, false, given, "SN7", {}},
                                   {unkept, true, false, {}, "QV4N1501000042", fallback},
                                   {{}, false, false, {}, "QV4N1501000042", fallback},
                                   {own, true, false, {}, "QV4N150101ABC", fallback}};
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases.data()));
    steps = ScriptedSteps();
    steps.backupToGive = c.backup;
    steps.FlashingSucceeds();
    options = c.given;
    commands.resize(kDefaultCommandCount);
    RunSettings settings;
    settings.unattended = c.unattended ? &answers : nullptr;
    settings.factoryIdentity = c.factoryIdentity;
    settings.fallbackIdentity = c.fallback;
    EXPECT_EQ(Run("", settings), c.programmed != nullptr) << output;
    EXPECT_EQ(output.find("factory identity will be programmed") != std::string::npos,
              c.programmed && std::string(c.programmed) == "QV4N150101XXX");
    const bool mayErase = !c.unattended || c.factoryIdentity || !c.given.empty() || !c.fallback.empty();
    EXPECT_EQ(steps.backupAsked[0], mayErase ? WithoutIdentity::kErase : WithoutIdentity::kKeepNand);
    EXPECT_EQ(output.find("(serialno = 'QV4N 01;reset', ethaddr = '02:1B:4D:12:34:56') is not one U-Boot keeps as "
                          "typed; it is not programmed back.") != std::string::npos,
              c.backup == unkept);
    EXPECT_EQ(commands.size(), c.programmed ? 31u : kDefaultCommandCount);
    if (c.programmed) {
      EXPECT_EQ(commands[28], std::string("setenv serialno ") + c.programmed);
    }
    EXPECT_EQ(output.find("The board holds no serial number and MAC address, and none was given") != std::string::npos,
              c.programmed == nullptr);
  }
}

}  // namespace
