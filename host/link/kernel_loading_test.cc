// Step 5 as a whole against the simulated board on the virtual clock: the kernel over the board's
// Ethernet from the station's TFTP server, or by YModem, and then U-Boot's iminfo against the
// file's header. The station's server checks the board's TFTP client block by block.
#include "host/link/kernel_loading.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "host/link/boot_image_test_files.h"
#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/testing/console_log_capture.h"
#include "host/testing/kernel_upload_support.h"
#include "host/testing/simulated_target.h"
#include "sim/crc.h"
#include "sim/network_faults.h"
#include "sim/state_dump.h"
#include "sim/uboot_env.h"
#include "sim/uboot_memory.h"
#include "sim/uboot_test_support.h"

namespace {

constexpr char kServer[] = "192.168.102.134";

// The console and the log file caught, uImage in a folder of its own made the current one.
class KernelLoadingTest : public ConsoleLogCaptureTest {
 protected:
  KernelLoadingTest() : ConsoleLogCaptureTest("kernel_loading_test.log") {}

  void WriteKernel(const std::vector<uint8_t>& bytes) { images_.Write("uImage", bytes); }

  // A board with its boot loaders and the network part of the step-4 environment saved, stopped
  // at the U-Boot prompt as step 4 leaves it.
  void BringToPrompt(SimulatedTarget& target) {
    kernel_upload_test::InstallBootLoaders(target.state());
    sim::Environment env;
    for (const auto& [name, value] : savedEnvironment_) env.Set(name, value);
    target.state().nand.Erase(sim::kUbootEnvOffset, sim::kNandEraseBlock);
    target.state().nand.Program(sim::kUbootEnvOffset, env.ToBlock());
    ASSERT_TRUE(kernel_upload_test::StopAtPrompt(target.portName()));
    console_.str("");
  }

  std::vector<uint8_t> Ram(SimulatedTarget& target, size_t size) {
    return sim::ReadRam(target.state().ram, sim::kRamLoadAddress, static_cast<uint32_t>(size));
  }

  const std::map<std::string, std::string> savedEnvironment_ = {{"bootdelay", "3"},
                                                                {"ethaddr", "02:1B:4D:12:34:56"},
                                                                {"ipaddr", "192.168.102.30"},
                                                                {"netmask", "255.255.255.0"},
                                                                {"serverip", "192.168.102.200"}};
  ImageFolder images_;
};

TEST_F(KernelLoadingTest, TftpLoadsTheKernelBlockByBlockAtTheLinkRate) {
  // A short last block, and a file of whole blocks that ends with an empty one.
  for (size_t dataSize : {size_t{2097152 + 37731}, size_t{512 * 20 - 64}}) {
    SCOPED_TRACE(dataSize);
    ASSERT_TRUE(OpenLogFile(logName_));
    SimulatedTarget target;
    BringToPrompt(target);
    const std::vector<uint8_t> kernel = sim::testing::MakeUImage(dataSize);
    WriteKernel(kernel);
    target.Station().files["uImage"] = kernel;
    const uint64_t start = target.NowMs();
    ASSERT_EQ(LoadKernel(target.portName(), kServer), 1) << console_.str();
    const uint64_t elapsedMs = target.NowMs() - start;

    EXPECT_TRUE(Ram(target, kernel.size()) == kernel);
    EXPECT_EQ(target.state().lastLoadSize, kernel.size());
    const StationTftpServer& station = target.Station();
    EXPECT_EQ(station.requests, std::vector<std::string>{"uImage"});
    EXPECT_EQ(station.acknowledgements, kernel.size() / 512 + 1) << "one acknowledgement a block";
    EXPECT_EQ(station.transfersCompleted, 1u);
    EXPECT_EQ(station.strayPackets, 0u);

    const std::string typed(target.HostBytes().begin(), target.HostBytes().end());
    EXPECT_NE(typed.find("setenv serverip 192.168.102.134\rtftpboot 0x80700000 uImage\r"),
              std::string::npos);
    EXPECT_NE(typed.find("iminfo 0x80700000\rmd 80700000 10\r"), std::string::npos);
    EXPECT_EQ(typed.find("saveenv"), std::string::npos);
    std::map<std::string, std::string> saved;
    ASSERT_TRUE(sim::ReadSavedEnvironment(target.state().nand, &saved));
    EXPECT_EQ(saved, savedEnvironment_) << "serverip is set for this boot only";

    const std::string log = Log();
    EXPECT_NE(log.find("Kernel uImage (" + std::to_string(kernel.size()) + " bytes) loaded by TFTP from " +
                       kServer + " in "),
              std::string::npos)
        << log.substr(0, 2000);
    EXPECT_NE(log.find("Verifying Checksum ... OK"), std::string::npos);
    if (dataSize > 1000000) {
      // 4,244 blocks at 100 Mbit/s with U-Boot's handling: under a second on the wire, plus the
      // 0.8 s of paced typing; YModem needs 185 s for the same file.
      EXPECT_GT(elapsedMs, 1000u);
      EXPECT_LT(elapsedMs, 3000u);
      RecordProperty("virtual_ms_tftp_2MiB", static_cast<int>(elapsedMs));
    }
  }
}

TEST_F(KernelLoadingTest, TftpFailuresEndTheStepAtThePromptAndARetryLoads) {
  const std::vector<uint8_t> kernel = sim::testing::MakeUImage(300000, "Linux-2.6.18_pro500-davinci");
  struct Case {
    const char* fault;
    bool sim::Faults::*flag;
    const char* reason;
    uint64_t minMs, maxMs;  // how long the failed step takes
  };
  const Case cases[] = {
      // U-Boot waits 5 s for each of ten answers, then gives up and would start again.
      {"no server", &sim::Faults::tftpNoServer, "Retry count exceeded", 50000, 53000},
      {"file not found", &sim::Faults::tftpNotFound, "TFTP error: 'File not found' (1)", 0, 2000},
      {"another kernel", &sim::Faults::tftpOtherFile,
       "Error: the kernel in the board's memory is not this uImage (\"Linux-2.6.18_pro500-davinci\", 300000 "
       "bytes",
       0, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    SimulatedTarget target;
    BringToPrompt(target);
    WriteKernel(kernel);
    target.Station().files["uImage"] = kernel;
    target.state().faults.*c.flag = true;
    const uint64_t start = target.NowMs();
    EXPECT_EQ(LoadKernel(target.portName(), kServer), 0);
    const uint64_t elapsedMs = target.NowMs() - start;
    EXPECT_NE(console_.str().find(c.reason), std::string::npos) << console_.str().substr(0, 3000);
    EXPECT_GE(elapsedMs, c.minMs);
    EXPECT_LE(elapsedMs, c.maxMs);

    // The fault put right, the step again: the board must be back at its prompt, not retrying.
    target.state().faults.*c.flag = false;
    console_.str("");
    EXPECT_EQ(LoadKernel(target.portName(), kServer), 1) << console_.str().substr(0, 3000);
    EXPECT_TRUE(Ram(target, kernel.size()) == kernel);
  }
}

TEST_F(KernelLoadingTest, AFileOfAnotherSizeOnTheServerFails) {
  SimulatedTarget target;
  BringToPrompt(target);
  WriteKernel(sim::testing::MakeUImage(100000));
  target.Station().files["uImage"] = sim::testing::MakeUImage(90000);
  EXPECT_EQ(LoadKernel(target.portName(), kServer), 0);
  EXPECT_NE(console_.str().find("Error: the TFTP server sent 90064 bytes, uImage has 100064."),
            std::string::npos)
      << console_.str().substr(0, 3000);
  const std::string typed(target.HostBytes().begin(), target.HostBytes().end());
  EXPECT_EQ(typed.find("iminfo"), std::string::npos) << "no check of a transfer that failed";
}

TEST_F(KernelLoadingTest, YModemKernelIsCheckedInMemoryToo) {
  SimulatedTarget target;
  BringToPrompt(target);
  std::vector<uint8_t> kernel = sim::testing::MakeUImage(50000);
  WriteKernel(kernel);
  ASSERT_EQ(LoadKernel(target.portName(), nullptr), 1) << console_.str();
  EXPECT_NE(Log().find("Kernel uImage (50064 bytes) loaded by YModem in "), std::string::npos);
  const std::string typed(target.HostBytes().begin(), target.HostBytes().end());
  EXPECT_NE(typed.find("iminfo 0x80700000\rmd 80700000 10\r"), std::string::npos);
  EXPECT_TRUE(target.Station().requests.empty());

  // A file damaged after it was made: its data no longer match the header's CRC.
  kernel[5000] ^= 0x40;
  WriteKernel(kernel);
  console_.str("");
  EXPECT_EQ(LoadKernel(target.portName(), nullptr), 0);
  EXPECT_NE(console_.str().find("Bad Data CRC"), std::string::npos) << console_.str().substr(0, 3000);

  // No U-Boot image at all: refused before the board is asked.
  WriteKernel(std::vector<uint8_t>(5000, 0x11));
  console_.str("");
  EXPECT_EQ(LoadKernel(target.portName(), nullptr), 0);
  EXPECT_NE(console_.str().find("Error: uImage is no U-Boot kernel image."), std::string::npos);
}

// The board's line pauses inside the lines that carry what counts: after "Bytes transferred = "
// (a USB adapter's 16 ms latency timer), inside its number (a network server's own timer), and
// before iminfo's verdict (a slow checksum, the data cache off). Each line is judged whole: the
// kernel loads, and a bad checksum still fails at its verdict, not at a time-out.
TEST_F(KernelLoadingTest, PausesInsideNumbersAndVerdictsDoNotCutThem) {
  const std::vector<uint8_t> kernel = sim::testing::MakeUImage(300000);
  struct Case {
    const char* after;
    uint32_t pauseMs;
    bool damaged;
  };
  const Case cases[] = {
      {"Bytes transferred = ", 16, false},
      {"Bytes transferred = 30", 1500, false},
      {"Verifying Checksum ... ", 1500, false},
      {"Verifying Checksum ... ", 1500, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.after) + "[" + std::to_string(c.pauseMs) + " ms]");
    SimulatedTarget target;
    BringToPrompt(target);
    WriteKernel(kernel);
    std::vector<uint8_t> served = kernel;
    if (c.damaged) served[5000] ^= 0x40;  // the data no longer match the header's CRC
    target.Station().files["uImage"] = served;
    target.PauseOutputAfter(c.after, c.pauseMs);
    const uint64_t start = target.NowMs();
    EXPECT_EQ(LoadKernel(target.portName(), kServer), c.damaged ? 0 : 1) << console_.str().substr(0, 3000);
    EXPECT_LT(target.NowMs() - start, 5000u);
    EXPECT_EQ(console_.str().find("Bad Data CRC") != std::string::npos, c.damaged);
    console_.str("");
  }
}

// Another build with the same name and size, its own checksums intact: iminfo says OK, and only
// the header read back from memory shows the other data CRC.
TEST_F(KernelLoadingTest, AnotherBuildOfTheSameNameAndSizeIsRefused) {
  const std::vector<uint8_t> kernel = sim::testing::MakeUImage(300000);
  std::vector<uint8_t> other = kernel;
  other[64 + 1000] ^= 0x01;
  sim::testing::PutBigEndian(other, 24, sim::Crc32(other.data() + 64, other.size() - 64));
  sim::testing::PutBigEndian(other, 4, 0);
  sim::testing::PutBigEndian(other, 4, sim::Crc32(other.data(), 64));
  SimulatedTarget target;
  BringToPrompt(target);
  WriteKernel(kernel);
  target.Station().files["uImage"] = other;
  EXPECT_EQ(LoadKernel(target.portName(), kServer), 0);
  const std::string shown = console_.str();
  EXPECT_NE(shown.find("Verifying Checksum ... OK"), std::string::npos) << shown.substr(0, 3000);
  char crcs[128];
  std::snprintf(crcs, sizeof crcs, "data CRC 0x%08X): it is \"Linux-2.6.10_mvl401\", 300000 bytes of data, data CRC 0x%08X.",
                sim::Crc32(kernel.data() + 64, 300000), sim::Crc32(other.data() + 64, 300000));
  EXPECT_NE(shown.find(crcs), std::string::npos) << shown.substr(shown.size() - 1000);
}

// Step 6 copies 4 MiB into slots 4 MiB apart: a larger uImage is refused before the port is
// opened; one that fills its slot exactly goes to the board.
TEST_F(KernelLoadingTest, AKernelLargerThanItsSlotIsRefusedBeforeThePortOpens) {
  SimulatedTarget target;
  BringToPrompt(target);
  const int opens = target.OpenCount();
  WriteKernel(sim::testing::MakeUImage(4194304 + 1 - 64));
  EXPECT_EQ(LoadKernel(target.portName(), kServer), 0);
  EXPECT_NE(console_.str().find("Error: uImage is 4194305 bytes; a kernel slot holds 4194304.\n"),
            std::string::npos);
  EXPECT_EQ(target.OpenCount(), opens);
  WriteKernel(sim::testing::MakeUImage(4194304 - 64));
  EXPECT_EQ(LoadKernel(target.portName(), kServer), 0);  // the station holds no uImage
  EXPECT_EQ(target.OpenCount(), opens + 1);
  EXPECT_NE(console_.str().find("TFTP error: 'File not found' (1)"), std::string::npos);
}

}  // namespace
