// The boot watch and the login against the simulated board on the virtual clock: every milestone,
// its time-out, the panic, and the login with and without a password.
#include "host/sequence/system_boot.h"

#include <gtest/gtest.h>

#include <string>

#include "host/testing/system_boot_support.h"

namespace {

using kernel_upload_test::RecordedPort;
using namespace system_boot_test;

class SystemBootTest : public BoardConsoleTest {};

// Runs the boot watch on a flashed board; the time from the call to its return in virtual ms.
struct BootRun {
  int result;
  uint32_t startMs;
  uint32_t endMs;
};

BootRun WatchOn(SimulatedTarget& target, RecordedPort& port) {
  BootRun run;
  run.startMs = static_cast<uint32_t>(target.NowMs());
  run.result = WatchSystemBoot(port.name());
  run.endMs = static_cast<uint32_t>(target.NowMs());
  return run;
}

TEST_F(SystemBootTest, AFullBootEndsLoggedInWithTheOperatorsCredentials) {
  SimulatedTarget target(BoardWith());
  FlashBoard(target.state());
  RecordedPort port;
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\n");
  const BootRun run = WatchOn(target, port);
  ASSERT_EQ(run.result, 1) << Console().substr(Console().size() > 3000 ? Console().size() - 3000 : 0);

  // Every milestone came, each within its time-out of the one before.
  const std::vector<uint32_t> times = MilestoneTimes(port.record);
  ASSERT_EQ(times.size(), 18u);
  uint32_t previous = run.startMs + 1000;  // the break and the pause after it
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_LE(times[i] - previous, kMilestones[i].timeoutMs) << kMilestones[i].text;
    previous = times[i];
  }
  EXPECT_TRUE(HasEvent(target.state(), std::string("linux: logged in as ") + kUser));

  // The board restarted on a break and was typed nothing but the two answers, each with a line
  // feed, one character every 10 ms.
  EXPECT_EQ(target.state().resets, 1u);
  EXPECT_EQ(port.record.Written(), std::string(kUser) + "\n" + kPassword + "\n");
  ASSERT_GE(port.record.writes.size(), 2u);
  EXPECT_EQ(port.record.writes[0].bytes.size(), 1u);
  EXPECT_EQ(port.record.writes[1].atMs - port.record.writes[0].atMs, 10u);

  // The operator was asked for a word and, for the password, a secret word.
  EXPECT_EQ(console.Requests(), (std::vector<std::string>{"word", "secret"}));
  EXPECT_EQ(console.Remaining(), "\n");
  const std::string shown = Console();
  const size_t login = shown.find("Enter you login:");
  const size_t password = shown.find("Enter you password:");
  ASSERT_NE(login, std::string::npos);
  ASSERT_NE(password, std::string::npos);
  EXPECT_LT(login, password);
  EXPECT_NE(shown.find("Target: brenlo login: "), std::string::npos);
  EXPECT_LT(password, shown.find(":~#", password));

  // The board's lines are in the log; the password never is (the board does not echo it).
  const std::string log = Log();
  EXPECT_NE(log.find("Starting kernel ...\r\n"), std::string::npos);
  EXPECT_NE(log.find("INIT: Entering runlevel: 3\r\n"), std::string::npos);
  EXPECT_NE(log.find(":~#"), std::string::npos);
  EXPECT_EQ(log.find(kPassword), std::string::npos);
  EXPECT_EQ(shown.find(kPassword), std::string::npos);
  RecordProperty("virtual_ms_boot_to_shell", static_cast<int>(run.endMs - run.startMs));
}

// A milestone that never comes fails the step when its own time-out has passed, counted from the
// milestone before; the rest of the boot (even a login prompt) does not save it.
TEST_F(SystemBootTest, EachMissingMilestoneFailsWhenItsTimeOutPasses) {
  // The simulated UBL always prints its milestones (1 to 4), and a login prompt held back at
  // milestone 18 is printed by the console right after, so 5 to 17 are the ones to leave out.
  for (int missing = 5; missing <= 17; ++missing) {
    SCOPED_TRACE("missing milestone " + std::to_string(missing));
    sim::BoardOptions options = BoardWith();
    options.faults.missingMilestone = missing;
    SimulatedTarget target(options);
    FlashBoard(target.state());
    RecordedPort port;
    ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\n");
    const BootRun run = WatchOn(target, port);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(console.Requests().empty()) << "no login was asked for";
    EXPECT_EQ(port.record.Written(), "");

    // "INIT:" also starts "INIT: Entering runlevel:", which comes within that wait's time-out:
    // a missing first INIT line is noticed one milestone later.
    const size_t failing = missing == 12 ? 13 : static_cast<size_t>(missing);
    const std::vector<uint32_t> times = MilestoneTimes(port.record);
    ASSERT_EQ(times.size(), failing - 1);
    const uint32_t waited = run.endMs - times.back();
    const uint32_t timeout = kMilestones[failing - 1].timeoutMs;
    EXPECT_GE(waited, timeout);
    EXPECT_LE(waited, timeout + 1000) << "a silent read lasts at most a second";
    // The boot went on meanwhile.
    EXPECT_NE(port.record.TimeRead(kMilestones[failing].text), 0u);
  }
}

TEST_F(SystemBootTest, AKernelPanicFailsAtOnce) {
  for (int panic : {7, 12, 17}) {
    SCOPED_TRACE("panic at milestone " + std::to_string(panic));
    sim::BoardOptions options = BoardWith();
    options.faults.panicAtMilestone = panic;
    SimulatedTarget target(options);
    FlashBoard(target.state());
    RecordedPort port;
    ScriptedConsole console(std::string(kUser) + "\n");
    const BootRun run = WatchOn(target, port);
    EXPECT_EQ(run.result, 0);
    const uint32_t panicAt = port.record.TimeRead("kernel panic");
    ASSERT_NE(panicAt, 0u);
    EXPECT_LE(run.endMs - panicAt, 100u) << "the panic line ends the wait, not its time-out";
    EXPECT_EQ(MilestoneTimes(port.record).size(), static_cast<size_t>(panic - 1));
    EXPECT_NE(Log().find("kernel panic"), std::string::npos);
    ASSERT_TRUE(OpenLogFile(logName_));
  }
}

// A real kernel's own words: with a root file system type it has no driver for, the board cannot
// mount its root and says "Kernel panic - not syncing: VFS: ...". The watch ends there, not at a
// milestone's time-out.
TEST_F(SystemBootTest, TheKernelsOwnPanicLineFailsAtOnce) {
  SimulatedTarget target(BoardWith());
  FlashBoard(target.state(), "setenv mmcrootfstype jffs2");
  RecordedPort port;
  ScriptedConsole console(std::string(kUser) + "\n");
  const BootRun run = WatchOn(target, port);
  EXPECT_EQ(run.result, 0);
  const uint32_t panicAt = port.record.TimeRead("Kernel panic - not syncing");
  ASSERT_NE(panicAt, 0u) << Console();
  EXPECT_LE(run.endMs - panicAt, 100u);
  EXPECT_NE(Log().find("Kernel panic - not syncing"), std::string::npos);
}

// Before the kernel: a silent board, one that fell back to the boot ROM, and a UBL that finds no
// valid U-Boot.
// Every kernel copy went bad once written, and the MMC card holds none: U-Boot tries the ten
// copies in turn and stops at its prompt; the watch fails when its wait for the kernel times out.
TEST_F(SystemBootTest, WithAllTenKernelCopiesBadTheWatchFailsAtItsTimeOut) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.badKernelSlots = 0x3FF; }));
  FlashBoard(target.state());
  RecordedPort port;
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\n");
  const BootRun run = WatchOn(target, port);
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(console.Requests().empty()) << "no login was asked for";
  const std::vector<uint32_t> times = MilestoneTimes(port.record);
  ASSERT_EQ(times.size(), 4u);  // the UBL's, up to "NAND"
  EXPECT_GE(run.endMs - times.back(), kMilestones[4].timeoutMs);
  EXPECT_LE(run.endMs - times.back(), kMilestones[4].timeoutMs + 1000u);
  EXPECT_NE(Log().find("Trying offset 0x6400000\r\n"), std::string::npos) << "the tenth copy was tried too";
}

TEST_F(SystemBootTest, BootLoaderFailures) {
  {
    SimulatedTarget target(BoardWith([](sim::Faults& f) { f.silent = true; }));
    FlashBoard(target.state());
    RecordedPort port;
    const BootRun run = WatchOn(target, port);
    EXPECT_EQ(run.result, 0);
    const uint32_t waited = run.endMs - run.startMs - 1000;  // after the break and the pause
    EXPECT_GE(waited, 5000u);
    EXPECT_LE(waited, 6000u);
  }
  {
    SimulatedTarget target(BoardWith());  // blank NAND: the boot ROM announces itself
    RecordedPort port;
    const BootRun run = WatchOn(target, port);
    EXPECT_EQ(run.result, 0);
    ASSERT_NE(port.record.TimeRead("BOOTME"), 0u);
    EXPECT_LE(run.endMs - port.record.TimeRead("BOOTME"), 100u);
  }
  {
    SimulatedTarget target(BoardWith([](sim::Faults& f) { f.ublBad = true; }));
    FlashBoard(target.state());
    RecordedPort port;
    const BootRun run = WatchOn(target, port);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(MilestoneTimes(port.record).size(), 1u);
    ASSERT_NE(port.record.TimeRead("Bad"), 0u);
    EXPECT_LE(run.endMs - port.record.TimeRead("Bad"), 100u);
  }
}

TEST_F(SystemBootTest, AShellWithoutAPasswordQuestionGetsOneLineFeed) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.noPassword = true; }));
  FlashBoard(target.state());
  RecordedPort port;
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\n");
  const BootRun run = WatchOn(target, port);
  EXPECT_EQ(run.result, 1) << Console();
  EXPECT_EQ(port.record.Written(), std::string(kUser) + "\n\n");
  EXPECT_EQ(console.Requests(), std::vector<std::string>{"word"});
  EXPECT_EQ(Console().find("Enter you password:"), std::string::npos);
  const uint32_t sent = port.record.TimeWritten(std::string(kUser) + "\n");
  EXPECT_LE(run.endMs - sent, 5000u);
}

TEST_F(SystemBootTest, AWrongPasswordFailsAfterFiveSeconds) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.wrongPassword = true; }));
  FlashBoard(target.state());
  RecordedPort port;
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\n");
  const BootRun run = WatchOn(target, port);
  EXPECT_EQ(run.result, 0);
  EXPECT_NE(port.record.TimeRead("Login incorrect"), 0u);
  // The wait starts after the last typed character and its 10 ms pause.
  const uint32_t waited = run.endMs - port.record.TimeWritten(std::string(kPassword) + "\n") - 10;
  EXPECT_GE(waited, 5000u);
  EXPECT_LE(waited, 6000u);
  EXPECT_TRUE(HasEvent(target.state(), std::string("linux: login incorrect for ") + kUser));
}

// Input that ends before the answers: nothing half-typed goes to the board, the step fails.
TEST_F(SystemBootTest, InputEndingBeforeTheAnswersFailsTheLogin) {
  {
    SimulatedTarget target(BoardWith());
    FlashBoard(target.state());
    RecordedPort port;
    ScriptedConsole console("");
    EXPECT_EQ(WatchOn(target, port).result, 0);
    EXPECT_EQ(port.record.Written(), "");
    EXPECT_NE(Console().find("Error: cannot read the operator's answer."), std::string::npos);
  }
  {
    SimulatedTarget target(BoardWith());
    FlashBoard(target.state());
    RecordedPort port;
    ScriptedConsole console(std::string(kUser) + "\n");
    EXPECT_EQ(WatchOn(target, port).result, 0);
    EXPECT_EQ(port.record.Written(), std::string(kUser) + "\n");
  }
}

TEST_F(SystemBootTest, APortThatDoesNotOpenFailsBothSteps) {
  SimulatedTarget target;
  ScriptedConsole console(std::string(kUser) + "\n" + kPassword + "\nhttp://10.0.0.1:3128\n");
  EXPECT_EQ(WatchSystemBoot("NOPORT9"), 0);
  EXPECT_EQ(UpdateKernelPackages("NOPORT9"), 0);
  EXPECT_TRUE(console.Requests().empty());
  EXPECT_EQ(target.OpenCount(), 0);
}

}  // namespace
