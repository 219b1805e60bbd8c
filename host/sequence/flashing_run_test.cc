// A whole flashing run, steps 0 to 6, with the real steps against the simulated board on the
// virtual clock: afterwards NAND holds the boot loaders, the saved environment is the 28 defaults
// plus the chosen identity, and the ten kernel slots hold uImage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "host/link/log_file.h"
#include "host/link/target_console.h"
#include "host/sequence/default_environment.h"
#include "host/sequence/environment_programming.h"
#include "host/sequence/step_machine.h"
#include "host/sequence/step_operations.h"
#include "host/testing/kernel_upload_support.h"
#include "host/testing/scripted_console.h"
#include "host/testing/simulated_target.h"
#include "sim/images.h"
#include "sim/state_dump.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kKernelSlots[10] = {0x00200000, 0x3200000, 0x3600000, 0x4000000, 0x4400000,
                                       0x4800000,  0x5200000, 0x5600000, 0x6000000, 0x6400000};

class FlashingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/flashing-run-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const sim::ImageFile& file : sim::MakeImageFiles()) {
      std::ofstream out(dir_ / file.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(file.bytes.data()),
                static_cast<std::streamsize>(file.bytes.size()));
      if (std::string(file.name) == "uImage") kernel_ = file.bytes;
    }
    savedCwd_ = fs::current_path();
    fs::current_path(dir_);
    saved_ = std::cout.rdbuf(console_.rdbuf());
    NewLog("run.log");
  }
  void TearDown() override {
    CloseLogFile();
    std::cout.rdbuf(saved_);
    fs::current_path(savedCwd_);
    fs::remove_all(dir_);
  }

  // A run on port SIM1 into the log named logName_; steps: the real ones unless given.
  bool Run(OptionMap options, StepOperations* steps = nullptr, const SwitchSet& switches = {}) {
    options["com"] = "SIM1";
    CommandList commands;
    FillDefaultEnvironment(commands);
    BoardStepOperations board;
    bool succeeded = RunSteps(steps ? *steps : board, options, switches, commands);
    CloseLogFile();
    std::ifstream in(dir_ / logName_, std::ios::binary);
    log_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return succeeded;
  }
  // The next run writes a fresh log of this name.
  void NewLog(const std::string& name) {
    logName_ = name;
    ASSERT_TRUE(OpenLogFile((dir_ / logName_).string()));
  }

  // The board as a run must leave it.
  void ExpectFlashed(SimulatedTarget& target, const std::string& serialno, const std::string& ethaddr) {
    const sim::BoardState& state = target.state();
    EXPECT_EQ(sim::ReadDescriptor(state.nand, sim::kUblOffset).magic, sim::kUblMagic);
    EXPECT_EQ(sim::ReadDescriptor(state.nand, sim::kUbootOffset).magic, sim::kUBootMagic);

    std::map<std::string, std::string> saved;
    ASSERT_TRUE(sim::ReadSavedEnvironment(state.nand, &saved));
    CommandList defaults;
    FillDefaultEnvironment(defaults);
    for (const std::string& command : defaults) {
      size_t space = command.find(' ', 7);
      std::string name = command.substr(7, space - 7), value = command.substr(space + 1);
      if (value.front() == '\'') value = value.substr(1, value.size() - 2);
      EXPECT_EQ(saved[name], value) << name;
    }
    EXPECT_EQ(saved["serialno"], serialno);
    EXPECT_EQ(saved["ethaddr"], ethaddr);

    for (uint32_t slot : kKernelSlots)
      EXPECT_TRUE(state.nand.Read(slot, static_cast<uint32_t>(kernel_.size())) == kernel_)
          << "slot 0x" << std::hex << slot;
  }

  fs::path dir_;
  fs::path savedCwd_;
  std::vector<uint8_t> kernel_;
  std::ostringstream console_;
  std::streambuf* saved_ = nullptr;
  std::string log_;
  std::string logName_;
};

const OptionMap kGiven{{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101ABC"}};

TEST_F(FlashingRunTest, GivenIdentityOnABlankBoard) {
  SimulatedTarget target;  // nothing in NAND: step 1 finds the boot ROM and backs up nothing
  uint64_t start = target.NowMs();
  ASSERT_TRUE(Run({{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101ABC"}}))
      << console_.str().substr(0, 4000);
  ExpectFlashed(target, "QV4N150101ABC", "02:1B:4D:12:34:56");
  EXPECT_NE(log_.find("no identity was read"), std::string::npos);
  EXPECT_NE(log_.find("Identity programmed:\r\nserialno = QV4N150101ABC\r\nethaddr = 02:1B:4D:12:34:56\r\n"),
            std::string::npos);
  EXPECT_EQ(log_.find("Warning:"), std::string::npos) << "the identity was given";
  RecordProperty("virtual_ms_steps_0_to_6", static_cast<int>(target.NowMs() - start));
}

TEST_F(FlashingRunTest, BackedUpIdentityIsProgrammedAgain) {
  SimulatedTarget target;
  kernel_upload_test::InstallBootLoaders(target.state());
  kernel_upload_test::SaveEnvironment(target.state(), "QV4N150101777", "02:1B:4D:77:77:77");
  ASSERT_TRUE(Run({})) << console_.str().substr(0, 4000);
  ExpectFlashed(target, "QV4N150101777", "02:1B:4D:77:77:77");
  EXPECT_NE(
      log_.find(
          "Identity read from the board:\r\nserialno = QV4N150101777\r\nethaddr = 02:1B:4D:77:77:77\r\n"),
      std::string::npos);
  EXPECT_NE(log_.find("Identity programmed:\r\nserialno = QV4N150101777\r\nethaddr = 02:1B:4D:77:77:77\r\n"),
            std::string::npos);
}

TEST_F(FlashingRunTest, BlankBoardWithoutIdentityGetsTheFactoryOneAfterAWarning) {
  SimulatedTarget target;
  ASSERT_TRUE(Run({})) << console_.str().substr(0, 4000);
  ExpectFlashed(target, "QV4N150101XXX", "02:1B:4D:00:00:00");
  EXPECT_NE(
      console_.str().find("Warning: the board reports no identity; the factory identity will be programmed."),
      std::string::npos);
  EXPECT_NE(log_.find("Warning: the board reports no identity"), std::string::npos);
}

// Step 4 with its read-back switched off, as it was before the read-back was built.
class UncheckedEnvironmentSteps : public BoardStepOperations {
 public:
  int ProgramEnvironment(const std::string& port, const CommandList& commands,
                         const std::function<void()>& saving) override {
    return ::ProgramEnvironment(port.c_str(), commands, 0, saving);
  }
};

// One character of step 4's typing lost on the line, the "3" of serverip's 192.168.102.134: the
// read-back types serverip again and the run ends with the environment as meant, no question
// asked. Without the read-back the run ends in success just the same, with serverip wrong.
TEST_F(FlashingRunTest, ACharacterLostAtTheUBootPromptIsTypedAgain) {
  CommandList commands;
  FillDefaultEnvironment(commands);
  // The countdown takes the first of step 4's "\r\n\r\n"; U-Boot's line editor reads the rest.
  std::string typed = "\r\n\r\n";
  for (const std::string& command : commands) typed += command + "\r";
  sim::BoardOptions options;
  options.faults.loseCharacter = static_cast<int>(typed.find("setenv serverip 192.168.102.134") + 29);
  {
    SimulatedTarget target(options);
    UncheckedEnvironmentSteps unchecked;
    ASSERT_TRUE(Run(kGiven, &unchecked)) << console_.str().substr(0, 4000);
    std::map<std::string, std::string> saved;
    ASSERT_TRUE(sim::ReadSavedEnvironment(target.state().nand, &saved));
    EXPECT_EQ(saved["serverip"], "192.168.102.14");
  }
  NewLog("run.log");
  SimulatedTarget target(options);
  ASSERT_TRUE(Run(kGiven)) << console_.str().substr(0, 4000);
  ExpectFlashed(target, "QV4N150101ABC", "02:1B:4D:12:34:56");
  const size_t differs = log_.find("Environment check: 1 variable differs (serverip); typing it again.\r\n");
  ASSERT_NE(differs, std::string::npos);
  EXPECT_NE(log_.find("Environment check: 30 of 30 variables as typed.\r\n", differs), std::string::npos);
  EXPECT_EQ(console_.str().find("Press 'r'"), std::string::npos);
}

// The serial flasher stops halfway through U-Boot's image, the rest lost on the line; the old
// U-Boot is erased already. "r" runs step 2 again, whose break ends in the boot ROM's serial boot
// (the new UBL finds no U-Boot and hands back) and starts a fresh flasher, then step 3: the run
// ends with both boot loaders in NAND.
TEST_F(FlashingRunTest, AStep3CutOffInUBootsImageSucceedsAfterOneR) {
  sim::BoardOptions options;
  options.faults.flasherStall = true;
  SimulatedTarget target(options);
  kernel_upload_test::InstallBootLoaders(target.state());
  kernel_upload_test::SaveEnvironment(target.state(), "QV4N150101777", "02:1B:4D:77:77:77");
  ScriptedConsole operatorKeys("r");
  ASSERT_TRUE(Run({})) << console_.str().substr(0, 4000);
  EXPECT_EQ(operatorKeys.Remaining(), "");
  const std::string shown = console_.str();
  const size_t asked = shown.find("Flashing failed! Press 'r' to retry or any key to quit..");
  ASSERT_NE(asked, std::string::npos);
  EXPECT_EQ(shown.find("Press 'r'", asked + 30), std::string::npos) << "one question, one r";
  ExpectFlashed(target, "QV4N150101777", "02:1B:4D:77:77:77");
}

// Step 1 erased the board, step 2 failed and the operator quit: the next run finds no identity,
// and its warning names the first run's log, which holds the identity step 1 read.
TEST_F(FlashingRunTest, TheFactoryIdentityWarningNamesTheLogThatHoldsTheIdentity) {
  sim::BoardOptions options;
  options.faults.corruptAfterTable = true;
  SimulatedTarget target(options);
  kernel_upload_test::InstallBootLoaders(target.state());
  kernel_upload_test::SaveEnvironment(target.state(), "QV4N150101777", "02:1B:4D:77:77:77");
  ScriptedConsole operatorKeys("q");
  NewLog("[2014-6-23]-9-5-7-45.log");
  ASSERT_FALSE(Run({}));
  target.state().faults.corruptAfterTable = false;
  NewLog("[2014-6-23]-9-12-0-5.log");
  ASSERT_TRUE(Run({})) << console_.str().substr(0, 4000);
  EXPECT_NE(log_.find("Warning: the board reports no identity; the factory identity will be programmed.\r\n"
                      "The identity read from a board in an earlier run stands in [2014-6-23]-9-5-7-45.log: "
                      "serialno = QV4N150101777, ethaddr = 02:1B:4D:77:77:77\r\n"),
            std::string::npos)
      << log_;
}

// Kernel copies 1 to 3 go bad whenever written, though U-Boot says "written: OK": step 6 reads slot
// 1 back, writes it twice more, and fails in words that name it. The operator quits: the run ends
// failed, never "succeeded" with bad copies.
TEST_F(FlashingRunTest, KernelCopiesThatStayBadFailStep6NamingTheSlot) {
  sim::BoardOptions options;
  options.faults.badKernelSlots = 0x7;
  SimulatedTarget target(options);
  ScriptedConsole quit("q");
  EXPECT_FALSE(Run(kGiven));
  EXPECT_NE(log_.find("Error: kernel slot 1 of 10 (NAND offset 0x200000) holds no good copy of uImage after "
                      "writing it again 2 times (Bad Data CRC).\r\n"),
            std::string::npos)
      << log_;
  EXPECT_NE(log_.find("Flashing kernel failed!"), std::string::npos);
  EXPECT_EQ(quit.Remaining(), "");
}

// Copies 1 to 3 lose a bit after a good run (the board is switched off: no kernel left in RAM) and
// its MMC card holds none: U-Boot tries the copies in turn and boots the fourth.
TEST_F(FlashingRunTest, WithKernelCopiesOneToThreeBadTheBoardBootsTheFourth) {
  SimulatedTarget target;
  ASSERT_TRUE(Run(kGiven)) << console_.str().substr(0, 4000);
  const std::string typed(target.HostBytes().begin(), target.HostBytes().end());
  EXPECT_NE(typed.find("\rsetenv try_boot_kernel 'for clone_offs in ${nand_kern_offs}; do echo \"Trying"),
            std::string::npos);
  for (uint32_t slot : {kKernelSlots[0], kKernelSlots[1], kKernelSlots[2]}) {
    const uint32_t at = slot + 64 + 1024;  // in the image's data: its data CRC no longer holds
    const uint8_t byte = target.state().nand.Read(at, 1)[0];
    ASSERT_NE(byte, 0);
    target.state().nand.Program(at, {static_cast<uint8_t>(byte & (byte - 1))});
  }

  target.state().ram.clear();
  NewLog("boot.log");
  ScriptedConsole login("root\nbrenlo\n");
  ASSERT_TRUE(Run({}, nullptr, {"noflash", "autologin"}))
      << console_.str().substr(console_.str().size() - 3000);
  size_t at = 0;
  for (const char* offset : {"0x00200000", "0x3200000", "0x3600000", "0x4000000"}) {
    at = log_.find(std::string("Trying offset ") + offset + "\r\n", at);
    ASSERT_NE(at, std::string::npos) << offset;
  }
  EXPECT_NE(log_.find("Starting kernel ...", at), std::string::npos);
  EXPECT_EQ(log_.find("Trying offset 0x4400000"), std::string::npos);
  EXPECT_NE(log_.find(":~#"), std::string::npos);
}

// A U-Boot built to keep ethaddr once set (its defaults hold one) refuses the given one. Typed
// either way, step 4 hears "Can't overwrite" when it types the value again, says so and fails:
// the run never ends "succeeded" with the board's old MAC address.
TEST_F(FlashingRunTest, AProtectedEthaddrFailsStep4InWords) {
  for (UBootTyping typing : {UBootTyping::kPaced, UBootTyping::kEcho}) {
    sim::BoardOptions options;
    options.faults.protectEthaddr = true;
    SimulatedTarget target(options);
    SetUBootTyping(typing);
    ScriptedConsole quit("q");
    NewLog(typing == UBootTyping::kPaced ? "paced.log" : "echo.log");
    const bool succeeded = Run(kGiven);
    SetUBootTyping(UBootTyping::kPaced);
    EXPECT_FALSE(succeeded);
    EXPECT_NE(log_.find("Error: U-Boot refuses to change ethaddr once it is set (\"Can't overwrite \"ethaddr\"\"): "
                        "the board keeps ethaddr = 00:0E:99:02:5A:17"),
              std::string::npos)
        << log_;
    EXPECT_NE(log_.find("Setting U-Boot Environment failed!"), std::string::npos);
    std::map<std::string, std::string> saved;
    ASSERT_TRUE(sim::ReadSavedEnvironment(target.state().nand, &saved));
    EXPECT_EQ(saved["ethaddr"], "00:0E:99:02:5A:17");
  }
}

// A flashed board whose U-Boot lost its saved environment runs on its defaults, which hold no
// identity: "not defined" is U-Boot's answer, step 1 goes on, and the given identity is programmed.
TEST_F(FlashingRunTest, ABoardWhoseUBootLostItsEnvironmentIsFlashedWithTheGivenIdentity) {
  sim::BoardOptions options;
  options.faults.lostEnvironment = true;
  SimulatedTarget target(options);
  sim::InstallBootLoaders(target.state().nand);
  ASSERT_TRUE(Run(kGiven)) << console_.str().substr(0, 4000);
  ExpectFlashed(target, "QV4N150101ABC", "02:1B:4D:12:34:56");
  EXPECT_NE(log_.find("Identity read from the board:\r\nserialno: not defined on the board\r\n"
                      "ethaddr: not defined on the board\r\n"),
            std::string::npos)
      << log_;
  EXPECT_NE(log_.find("The board's U-Boot holds no serialno and ethaddr"), std::string::npos);
  EXPECT_EQ(log_.find("Failed backup env."), std::string::npos);
}

}  // namespace
