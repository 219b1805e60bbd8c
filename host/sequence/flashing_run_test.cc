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

#include "host/link/kernel_upload_test_support.h"
#include "host/link/log_file.h"
#include "host/sequence/default_environment.h"
#include "host/sequence/step_machine.h"
#include "host/sequence/step_operations.h"
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
    ASSERT_TRUE(OpenLogFile((dir_ / "run.log").string()));
  }
  void TearDown() override {
    CloseLogFile();
    std::cout.rdbuf(saved_);
    fs::current_path(savedCwd_);
    fs::remove_all(dir_);
  }

  bool Run(OptionMap options) {
    options["com"] = "SIM1";
    CommandList commands;
    FillDefaultEnvironment(commands);
    BoardStepOperations steps;
    bool succeeded = RunSteps(steps, options, SwitchSet(), commands);
    CloseLogFile();
    std::ifstream in(dir_ / "run.log", std::ios::binary);
    log_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return succeeded;
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
};

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

}  // namespace
