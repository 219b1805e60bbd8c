#include "host/sequence/environment_programming.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "host/link/log_file.h"
#include "host/sequence/default_environment.h"
#include "host/testing/console_log_capture.h"
#include "host/testing/kernel_upload_support.h"
#include "host/testing/simulated_target.h"
#include "sim/images.h"
#include "sim/state_dump.h"
#include "sim/uboot_memory.h"

namespace {

using kernel_upload_test::InstallBootLoaders;
using kernel_upload_test::RecordedPort;

constexpr uint32_t kKernelSlots[10] = {0x00200000, 0x3200000, 0x3600000, 0x4000000, 0x4400000,
                                       0x4800000,  0x5200000, 0x5600000, 0x6000000, 0x6400000};

CommandList FullCommandList() {
  CommandList commands;
  FillDefaultEnvironment(commands);
  commands.push_back("setenv serialno QV4N150101ABC");
  commands.push_back("setenv ethaddr 02:1B:4D:12:34:56");
  commands.push_back("saveenv");
  return commands;
}

// What "setenv NAME VALUE" leaves in the environment: the value without its outer single quotes.
std::map<std::string, std::string> ExpectedEnvironment(const CommandList& commands) {
  std::map<std::string, std::string> env;
  for (const std::string& command : commands) {
    if (command.compare(0, 7, "setenv ") != 0) continue;
    size_t space = command.find(' ', 7);
    std::string value = command.substr(space + 1);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
      value = value.substr(1, value.size() - 2);
    env[command.substr(7, space - 7)] = value;
  }
  return env;
}

sim::BoardOptions WithFaults(void (*set)(sim::Faults&)) {
  sim::BoardOptions options;
  if (set) set(options.faults);
  return options;
}

class EnvironmentProgrammingTest : public ConsoleLogCaptureTest {
 protected:
  EnvironmentProgrammingTest() : ConsoleLogCaptureTest("environment_programming_test.log") {}

  // A board as step 5 leaves it: environment saved, at the prompt, the kernel in RAM.
  // The kernel is in RAM and in the folder the run works in, as uImage (step 6 checks the copies
  // against the file).
  std::vector<uint8_t> PrepareForClones(SimulatedTarget& target) {
    InstallBootLoaders(target.state());
    EXPECT_EQ(ProgramEnvironment(target.portName(), FullCommandList()), 1);
    std::vector<uint8_t> kernel = sim::MakeUImage(1500000, "Linux test");
    sim::WriteRam(target.state().ram, sim::kRamLoadAddress, kernel);
    if (savedCwd_.empty()) {
      savedCwd_ = std::filesystem::current_path();
      const std::filesystem::path folder = ::testing::TempDir() + std::to_string(::getpid()) + "_clones";
      std::filesystem::create_directories(folder);
      std::filesystem::current_path(folder);
    }
    std::ofstream("uImage", std::ios::binary)
        .write(reinterpret_cast<const char*>(kernel.data()), static_cast<std::streamsize>(kernel.size()));
    console_.str("");
    return kernel;
  }
  void TearDown() override {
    if (!savedCwd_.empty()) std::filesystem::current_path(savedCwd_);
    ConsoleLogCaptureTest::TearDown();
  }
  // Typed commands that begin with text, in order.
  static std::vector<std::string> Typed(const std::string& written, const std::string& text) {
    std::vector<std::string> found;
    for (size_t at = written.find(text); at != std::string::npos; at = written.find(text, at + 1))
      found.push_back(written.substr(at, written.find('\r', at) - at));
    return found;
  }
  std::filesystem::path savedCwd_;

};

TEST_F(EnvironmentProgrammingTest, TypesAllCommandsAndTheBoardSavesThem) {
  SimulatedTarget target;
  InstallBootLoaders(target.state());
  RecordedPort port;
  const CommandList commands = FullCommandList();
  ASSERT_EQ(commands.size(), 31u);
  uint64_t start = target.NowMs();
  // The run hears of saveenv once, just before it goes out: every setenv typed, saveenv not yet.
  std::vector<std::string> typedBeforeSave;
  const auto saving = [&] { typedBeforeSave.push_back(port.record.Written()); };
  ASSERT_EQ(ProgramEnvironment(port.name(), commands, kEnvironmentCheckRounds, saving), 1) << console_.str();

  std::map<std::string, std::string> saved;
  ASSERT_TRUE(sim::ReadSavedEnvironment(target.state().nand, &saved));
  for (const auto& entry : ExpectedEnvironment(commands)) {
    auto found = saved.find(entry.first);
    ASSERT_NE(found, saved.end()) << entry.first;
    EXPECT_EQ(found->second, entry.second) << entry.first;
  }

  // Typed after the countdown was stopped with "\r\n\r\n", each command followed by one Enter.
  std::string typed;
  for (const std::string& command : commands) typed += command + "\r";
  // Then printenv once: the board holds every variable as typed.
  EXPECT_EQ(port.record.Written(), "\r\n\r\n" + typed + "printenv\r");
  EXPECT_EQ(typedBeforeSave, std::vector<std::string>{"\r\n\r\n" + typed.substr(0, typed.size() - 8)});
  // Half a second before each command and 10 ms per character, paced.
  EXPECT_GE(target.NowMs() - start, 31u * 500 + (typed.size() + 4) * 10);

  // The bar goes 0, 3, 6, 10 ... 96, 100 in step with the commands.
  std::string shown = console_.str();
  std::vector<unsigned> percents;
  for (size_t at = shown.find("\t "); at != std::string::npos; at = shown.find("\t ", at + 1)) {
    if (shown.compare(at + 5, 3, "% [") == 0) percents.push_back(std::stoul(shown.substr(at + 2, 3)));
  }
  ASSERT_EQ(percents.size(), 31u);
  for (unsigned i = 0; i < 31; ++i) EXPECT_EQ(percents[i], i * 100 / 30) << "command " << i;
  EXPECT_NE(shown.find("\n\t\t\tSetting U-Boot Enviroment..\n"), std::string::npos);
  EXPECT_NE(shown.find("\nEnvironment check: 30 of 30 variables as typed.\n"), std::string::npos);

  // What the unit became is on record, after the target's own lines.
  const std::string log = Log();
  EXPECT_NE(log.find("Writing to Nand... done"), std::string::npos);
  EXPECT_NE(
      log.find("B-Boot > \r\n\r\nEnvironment check: 30 of 30 variables as typed.\r\nIdentity programmed:"),
      std::string::npos);
  EXPECT_NE(log.find("Identity programmed:\r\nserialno = QV4N150101ABC\r\nethaddr = 02:1B:4D:12:34:56\r\n"),
            std::string::npos)
      << log;
}

// A value that U-Boot keeps otherwise than typed (its setenv joins words with one blank) never
// reads back as typed: it is typed again twice, and after the third check the step fails without
// recording an identity as programmed.
TEST_F(EnvironmentProgrammingTest, AVariableThatStaysDifferentFailsAfterThreeChecks) {
  SimulatedTarget target;
  InstallBootLoaders(target.state());
  RecordedPort port;
  CommandList commands = FullCommandList();
  commands.insert(commands.end() - 1, "setenv banner two  blanks");
  EXPECT_EQ(ProgramEnvironment(port.name(), commands), 0);

  // The list, the first printenv, then twice the command again, saveenv and printenv.
  const std::string again = "setenv banner two  blanks\rsaveenv\rprintenv\r";
  const std::string tail = "saveenv\rprintenv\r" + again + again;
  const std::string written = port.record.Written();
  ASSERT_GT(written.size(), tail.size());
  EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
  const std::string log = Log();
  const std::string differs = "Environment check: 1 variable differs (banner)";
  const size_t first = log.find(differs + "; typing it again.\r\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.find(differs + "; typing it again.\r\n", first + 1), std::string::npos);
  EXPECT_NE(log.find(differs + " after 3 checks.\r\n"), std::string::npos);
  EXPECT_EQ(log.find("Identity programmed:"), std::string::npos);
}

TEST_F(EnvironmentProgrammingTest, SilentBoardFailsInTheFirstWaitWithoutTyping) {
  SimulatedTarget target(WithFaults([](sim::Faults& f) { f.silent = true; }));
  InstallBootLoaders(target.state());
  uint64_t start = target.NowMs();
  EXPECT_EQ(ProgramEnvironment(target.portName(), FullCommandList()), 0);
  uint64_t elapsed = target.NowMs() - start;  // the 500 ms break, then 10 s
  EXPECT_GE(elapsed, 10500u);
  EXPECT_LE(elapsed, 11501u);
  EXPECT_TRUE(target.HostBytes().empty());
  EXPECT_EQ(Log().find("Identity programmed:"), std::string::npos) << "nothing was programmed";
}

TEST_F(EnvironmentProgrammingTest, BoardInBootRomFailsAtOnce) {
  SimulatedTarget target;  // empty NAND: the break ends in the boot ROM
  uint64_t start = target.NowMs();
  EXPECT_EQ(ProgramEnvironment(target.portName(), FullCommandList()), 0);
  EXPECT_LT(target.NowMs() - start, 3000u);
  EXPECT_TRUE(target.HostBytes().empty());
}

// The most characters the host had typed at U-Boot's prompt, from its write number `from` on, that
// had not come back to it yet, at any of its writes: a byte it read that is the next one awaiting
// its echo is that echo (the Enter's CR comes back as CR LF); Ctrl-C clears the line.
size_t MostUnechoed(const kernel_upload_test::LineRecord& record, size_t from) {
  std::vector<std::pair<uint64_t, const kernel_upload_test::TimedBytes*>> events;
  for (size_t i = from; i < record.writes.size(); ++i)
    events.emplace_back(record.writes[i].order, &record.writes[i]);
  for (const auto& read : record.reads) {
    if (read.order > record.writes[from].order) events.emplace_back(read.order, &read);
  }
  std::sort(events.begin(), events.end());
  std::deque<char> unechoed;
  size_t most = 0;
  for (const auto& [order, event] : events) {
    const bool written = event >= record.writes.data() && event < record.writes.data() + record.writes.size();
    for (char c : event->bytes) {
      if (written && c == 0x03) {
        unechoed.clear();
      } else if (written) {
        unechoed.push_back(c);
      } else if (!unechoed.empty() && unechoed.front() == c) {
        unechoed.pop_front();
      }
    }
    if (written) most = std::max(most, unechoed.size());
  }
  return most;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Typed at the pace of U-Boot's echo over a line at 115200 baud both ways: never more than the
// board's 16-character FIFO on its way unechoed, and that many whenever the line allows, so the list
// takes the line's time, not 10 ms a character and half a second a command. A character of
// serverip's value lost, doubled or changed on its way shows in the echo: Ctrl-C clears the line and
// the command is typed again once, before saveenv, so that the read-back finds nothing to mend.
TEST_F(EnvironmentProgrammingTest, EchoTypingKeepsTheFifoFullAndTypesAgainWhatCameBackOtherwise) {
  const CommandList commands = FullCommandList();
  std::string typed = "\r\n\r\n";  // the countdown takes the first; U-Boot's line editor the rest
  for (const std::string& command : commands) typed += command + "\r";
  const int three = static_cast<int>(typed.find("setenv serverip 192.168.102.134") + 29);
  for (int sim::Faults::*fault : {static_cast<int sim::Faults::*>(nullptr), &sim::Faults::loseCharacter,
                                  &sim::Faults::doubleCharacter, &sim::Faults::changeCharacter}) {
    sim::BoardOptions options;
    options.baudEmulation = true;
    if (fault) options.faults.*fault = three;
    SimulatedTarget target(options);
    target.PaceHostLine(11520);
    InstallBootLoaders(target.state());
    kernel_upload_test::ScopedUBootTyping echo(UBootTyping::kEcho);
    RecordedPort port;
    console_.str("");
    OpenLogFile(logName_);
    ASSERT_EQ(ProgramEnvironment(port.name(), commands), 1) << console_.str().substr(0, 3000);

    std::map<std::string, std::string> saved;
    ASSERT_TRUE(sim::ReadSavedEnvironment(target.state().nand, &saved));
    for (const auto& entry : ExpectedEnvironment(commands))
      EXPECT_EQ(saved[entry.first], entry.second) << entry.first;
    size_t first = 0;
    while (first < port.record.writes.size() && port.record.writes[first].bytes.compare(0, 6, "setenv") != 0)
      ++first;
    ASSERT_LT(first, port.record.writes.size());
    EXPECT_EQ(MostUnechoed(port.record, first), 16u);
    // 2,200 characters take 0.2 s of line time each way; paced, the list took 15.5 s of pauses alone.
    EXPECT_LT(port.record.TimeWritten("saveenv\r") - port.record.writes[first].atMs, 1000u);
    // A first try that came back otherwise never got its Enter.
    EXPECT_EQ(Count(port.record.Written(), "setenv serverip 192.168.102.134\r"), 1u);
    const std::string log = Log();
    EXPECT_EQ(Count(log, "Echo check: "), fault ? 1u : 0u) << log;
    if (fault) {
      EXPECT_NE(
          log.find("Echo check: \"setenv serverip 192.168.102.134\" came back otherwise from character "),
          std::string::npos);
    }
    EXPECT_NE(log.find("Environment check: 30 of 30 variables as typed."), std::string::npos);
  }
}

// U-Boot's console hangs halfway through a command: its echo stops, Ctrl-C brings no prompt, and the
// step fails a second after the last echo and five after the Ctrl-C.
TEST_F(EnvironmentProgrammingTest, EchoTypingFailsTheStepWhenTheBoardStopsEchoing) {
  sim::BoardOptions options;
  options.faults.hangAtCharacter = 100;
  options.baudEmulation = true;
  SimulatedTarget target(options);
  target.PaceHostLine(11520);  // the line's time is the host's estimate of it
  InstallBootLoaders(target.state());
  kernel_upload_test::ScopedUBootTyping echo(UBootTyping::kEcho);
  RecordedPort port;
  EXPECT_EQ(ProgramEnvironment(port.name(), FullCommandList()), 0);
  const uint64_t failed = target.NowMs();

  // The time-out counts from the last character typed or echoed, whichever came later.
  const auto& writes = port.record.writes;
  ASSERT_EQ(writes.back().bytes, "\x03");
  ASSERT_FALSE(port.record.reads.empty());
  const uint32_t lastTypedOrEchoed = std::max(writes[writes.size() - 2].atMs, port.record.reads.back().atMs);
  EXPECT_GE(writes.back().atMs - lastTypedOrEchoed, 1000u);
  EXPECT_LE(writes.back().atMs - lastTypedOrEchoed, 1002u);
  EXPECT_GE(failed - writes.back().atMs, 5000u);
  EXPECT_LE(failed - writes.back().atMs, 5002u);
  EXPECT_NE(Log().find("Echo check: no U-Boot prompt came after Ctrl-C."), std::string::npos);
}

TEST(TypingPercent, ReachesExactlyHundredWithTheLastCommand) {
  EXPECT_EQ(TypingPercent(0, 31), 0u);
  EXPECT_EQ(TypingPercent(3, 31), 10u);
  EXPECT_EQ(TypingPercent(29, 31), 96u);
  EXPECT_EQ(TypingPercent(30, 31), 100u);
  EXPECT_EQ(TypingPercent(0, 1), 100u);  // a single command is the last one, no division by zero
}

TEST_F(EnvironmentProgrammingTest, ClonesFillTheTenSlots) {
  SimulatedTarget target;
  std::vector<uint8_t> kernel = PrepareForClones(target);
  RecordedPort port;
  uint64_t before = target.HostBytes().size();
  ASSERT_EQ(MakeKernelClones(port.name()), 1) << console_.str();
  EXPECT_EQ(port.record.writes.front().bytes, "run make_nand_kernel_clones\r") << "one write, not paced";
  EXPECT_EQ(std::string(target.HostBytes().begin() + static_cast<std::ptrdiff_t>(before),
                        target.HostBytes().begin() + static_cast<std::ptrdiff_t>(before) + 28),
            "run make_nand_kernel_clones\r");
  // Then every slot is read back, whole pages of the image, clear of the kernel at 0x80700000, and
  // checked there; none was written again.
  std::vector<std::string> expected;
  for (uint32_t slot : kKernelSlots) {
    char command[64];
    std::snprintf(command, sizeof command, "nand read 0x82000000 0x%X 0x16E800", static_cast<unsigned>(slot));
    expected.push_back(command);
  }
  EXPECT_EQ(Typed(port.record.Written(), "nand read"), expected);
  EXPECT_EQ(Typed(port.record.Written(), "iminfo 0x82000000").size(), 10u);
  EXPECT_TRUE(Typed(port.record.Written(), "nand write").empty());
  EXPECT_NE(Log().find("Kernel copies checked: 10 of 10 equal to uImage.\r\n"), std::string::npos);
  for (uint32_t slot : kKernelSlots) {
    std::vector<uint8_t> copy = target.state().nand.Read(slot, static_cast<uint32_t>(kernel.size()));
    EXPECT_TRUE(copy == kernel) << "slot 0x" << std::hex << slot;
    std::vector<uint8_t> rest = target.state().nand.Read(slot + static_cast<uint32_t>(kernel.size()), 16);
    EXPECT_EQ(rest, std::vector<uint8_t>(16, 0)) << "the slot is written whole from RAM";
  }
}

TEST_F(EnvironmentProgrammingTest, NineClonesFailTenSecondsAfterTheNinth) {
  SimulatedTarget target(WithFaults([](sim::Faults& f) { f.clonesWritten = 9; }));
  PrepareForClones(target);
  RecordedPort port;
  EXPECT_EQ(MakeKernelClones(port.name()), 0);
  uint32_t ninth = port.record.TimeRead("written: OK", 9);
  ASSERT_NE(ninth, 0u);
  EXPECT_EQ(port.record.TimeRead("written: OK", 10), 0u);
  uint64_t waited = target.NowMs() - ninth;
  EXPECT_GE(waited, 10000u);
  EXPECT_LE(waited, 11001u);
}

// A failed write ends the step at once, in the words of this U-Boot ("ERROR") or of newer ones.
TEST_F(EnvironmentProgrammingTest, FailDuringClonesEndsAtOnce) {
  for (bool sim::Faults::*fault : {&sim::Faults::cloneFail, &sim::Faults::cloneError}) {
    sim::BoardOptions options;
    options.faults.*fault = true;
    SimulatedTarget target(options);
    PrepareForClones(target);
    RecordedPort port;
    EXPECT_EQ(MakeKernelClones(port.name()), 0);
    uint32_t failed = port.record.TimeRead("ERROR");
    ASSERT_NE(failed, 0u);
    EXPECT_LT(target.NowMs() - failed, 100u);
  }
}

// "written: OK" and a copy that went bad all the same: a slot that stays bad after two more writes
// fails the step in words that name it, before any later slot is looked at; one that went bad
// once is written again and the step goes on.
TEST_F(EnvironmentProgrammingTest, BadCopiesAreWrittenAgainOrFailTheStep) {
  {
    SimulatedTarget target(WithFaults([](sim::Faults& f) { f.badKernelSlots = 0x3; }));  // slots 1 and 2
    PrepareForClones(target);
    RecordedPort port;
    EXPECT_EQ(MakeKernelClones(port.name()), 0);
    const std::string written = port.record.Written();
    EXPECT_EQ(Typed(written, "nand write 0x80700000 0x200000 0x400000").size(), 2u);
    EXPECT_EQ(Typed(written, "nand read").size(), 3u) << "slot 1 read thrice, slot 2 never";
    EXPECT_NE(console_.str().find("Error: kernel slot 1 of 10 (NAND offset 0x200000) holds no good copy of "
                                  "uImage after writing it again 2 times (Bad Data CRC)."),
              std::string::npos)
        << console_.str();
  }
  console_.str("");
  SimulatedTarget target(WithFaults([](sim::Faults& f) { f.flakyKernelSlots = 0x202; }));  // 2 and 10
  const std::vector<uint8_t> kernel = PrepareForClones(target);
  RecordedPort port;
  const uint64_t start = target.NowMs();
  ASSERT_EQ(MakeKernelClones(port.name()), 1) << console_.str();
  const std::string log = Log();
  EXPECT_NE(log.find("The copy in kernel slot 2 of 10 (NAND offset 0x3200000) is bad (Bad Data CRC); writing "
                     "it again (1 of 2).\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Kernel copies checked: 10 of 10 equal to uImage (2 written again).\r\n"), std::string::npos);
  for (uint32_t slot : kKernelSlots)
    EXPECT_TRUE(target.state().nand.Read(slot, static_cast<uint32_t>(kernel.size())) == kernel) << std::hex << slot;
  // Ten reads of 733 pages at the board's 500 us a page, and two more with their rewrite.
  EXPECT_GE(target.NowMs() - start, 12 * 733 / 2u);
  RecordProperty("virtual_ms_step_6_two_rewrites", static_cast<int>(target.NowMs() - start));
}

TEST_F(EnvironmentProgrammingTest, ClonesOnAClosedPortFail) {
  SimulatedTarget target;
  EXPECT_EQ(MakeKernelClones("NOSUCHPORT"), 0);
  EXPECT_EQ(ProgramEnvironment("NOSUCHPORT", FullCommandList()), 0);
  EXPECT_EQ(target.OpenCount(), 0);
}

}  // namespace
