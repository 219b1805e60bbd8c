// Steps 7 and 8 as the step machine reaches them with the real steps: -nf from detection straight
// to the boot watch on a board that is already flashed, with and without the package update, and
// a failing login that asks its retry question.
#include <gtest/gtest.h>

#include <string>

#include "host/platform/port_list.h"
#include "host/sequence/step_machine.h"
#include "host/sequence/step_operations.h"
#include "host/testing/system_boot_support.h"

namespace {

using namespace system_boot_test;

PortMap OnlyTheBoard() { return PortMap{{1, "SIM1"}}; }

class NoFlashRunTest : public BoardConsoleTest {
 protected:
  void SetUp() override {
    BoardConsoleTest::SetUp();
    SetPortLister(&OnlyTheBoard);
  }
  void TearDown() override {
    SetPortLister(nullptr);
    BoardConsoleTest::TearDown();
  }

  // A run with these switches and no -p: the port is found by detection.
  bool Run(const SwitchSet& switches) {
    OptionMap options;
    CommandList commands;
    FillDefaultEnvironment(commands);
    BoardStepOperations steps;
    return RunSteps(steps, options, switches, commands);
  }
};

TEST_F(NoFlashRunTest, DetectionLeadsStraightToTheBootWatchAndTheLogin) {
  SimulatedTarget target(BoardWith());
  FlashBoard(target.state());
  const auto nandBefore = target.state().nand.Blocks();
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\n");
  ASSERT_TRUE(Run({"noflash"})) << Console();

  EXPECT_TRUE(HasEvent(target.state(), std::string("linux: logged in as ") + kUser));
  EXPECT_TRUE(target.state().nand.Blocks() == nandBefore) << "nothing was flashed";
  EXPECT_EQ(console.Requests(), (std::vector<std::string>{"word", "secret"}))
      << "no identity, retry or key question; the run ends after the login";
  const std::string shown = Console();
  EXPECT_EQ(shown.find("Enter proxy"), std::string::npos);
  EXPECT_EQ(shown.find("Press any key.."), std::string::npos);
  EXPECT_NE(Log().find(":~#"), std::string::npos);
}

TEST_F(NoFlashRunTest, WithPackageUpdateTheRunEndsWithItsSuccessLine) {
  SimulatedTarget target(BoardWith());
  FlashBoard(target.state());
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\nhttp://10.1.2.3:3128\nx");
  ASSERT_TRUE(Run({"noflash", "autologin", "rpm"})) << Console();
  EXPECT_TRUE(HasEvent(target.state(), "linux: installed linux-kernel-modules"));
  EXPECT_TRUE(HasEvent(target.state(), "linux: apt-get install, http_proxy=http://10.1.2.3:3128"));
  EXPECT_EQ(console.Remaining(), "") << "the last key answered \"Press any key..\"";
  const std::string shown = Console();
  EXPECT_NE(
      shown.find("Update completed successfully.\n\n\nUpdate kernel rpm(s) successful!\nPress any key..\n"),
      std::string::npos);
  const std::string log = Log();
  EXPECT_NE(log.find("Done.\r\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 34), "Update kernel rpm(s) successful!\r\n");
}

// A failing login asks to retry; "r" restarts the board and asks the operator again, anything
// else ends the run with the log line.
TEST_F(NoFlashRunTest, AFailedLoginAsksToRetryAndRestartsTheBoard) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.wrongPassword = true; }));
  FlashBoard(target.state());
  const std::string answers = std::string(kUser) + "\n" + kPassword + "\n";
  ScriptedConsole console(answers + "r" + answers + "q");
  const unsigned resetsBefore = target.state().resets;
  EXPECT_FALSE(Run({"noflash", "autologin", "rpm"}));
  EXPECT_EQ(console.Remaining(), "");
  EXPECT_EQ(console.CountRequests("secret"), 2u);
  EXPECT_EQ(console.CountRequests("line"), 0u) << "no update after a failed login";
  const std::string shown = Console();
  const std::string question = "Loading system failed! Press 'r' to retry or any key to quit..";
  const size_t first = shown.find(question);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(shown.find(question, first + 1), std::string::npos);
  // Detection's two breaks, then one restart for each try of the boot watch.
  EXPECT_EQ(target.state().resets - resetsBefore, 4u);
  const std::string log = Log();
  EXPECT_EQ(log.substr(log.size() - 24), "Loading system failed!\r\n");
}

}  // namespace
