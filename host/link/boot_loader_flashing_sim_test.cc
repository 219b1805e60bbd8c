// Step 3 against the simulated board on the virtual clock: the flasher that step 2 started takes
// the flash command and both images, and writes them into its NAND behind their descriptors.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/boot_image_test_files.h"
#include "host/link/boot_loader_flashing.h"
#include "host/link/flasher_upload.h"
#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/testing/simulated_target.h"
#include "sim/images.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const std::vector<uint8_t> kFlasher = sim::MakeBootImage(sim::ImageKind::kFlasher, 4096, "sft test");
const std::vector<uint8_t> kUbl = sim::MakeBootImage(sim::ImageKind::kUbl, 14336, "ubl test");
// Not a whole number of 128-byte blocks, nor of NAND pages.
const std::vector<uint8_t> kUboot = sim::MakeBootImage(sim::ImageKind::kUBoot, 180001, "uboot test");

constexpr uint64_t kReadGrainMs = 1001;

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string Nul(const char* text) { return std::string(text) + '\0'; }

std::string ReadWholeFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class FlashBootLoadersSimTest : public ::testing::Test {
 protected:
  FlashBootLoadersSimTest() {
    images_.Write(kFlasherImageFile, kFlasher);
    images_.Write(kUblImageFile, kUbl);
    images_.Write(kUbootImageFile, kUboot);
  }

  // Step 2, so that the serial flasher runs on the board.
  void StartFlasher() {
    CaptureStdout();
    const int uploaded = UploadFlasher(target_.portName());
    const std::string console = GetCapturedStdout();
    ASSERT_EQ(uploaded, 1) << console;
  }

  int Flash() {
    sentBefore_ = target_.HostBytes().size();
    start_ = target_.NowMs();
    CaptureStdout();
    const int result = FlashBootLoaders(target_.portName());
    console_ = GetCapturedStdout();
    return result;
  }
  // What the host sent during the last Flash().
  std::string Sent() const {
    return std::string(target_.HostBytes().begin() + static_cast<long>(sentBefore_),
                       target_.HostBytes().end());
  }
  // The image the descriptor in that block points at, checked against the header values.
  std::vector<uint8_t> ImageInNand(uint32_t block, uint32_t magic, uint32_t entry, uint32_t load) {
    const sim::NandDescriptor d = sim::ReadDescriptor(target_.state().nand, block);
    if (d.magic != magic || d.entryPoint != entry || d.loadAddress != load) return {};
    return sim::ReadDescribedImage(target_.state().nand, d);
  }
  std::vector<uint8_t> UblInNand() {
    return ImageInNand(sim::kUblOffset, kUblMagic, kUblStartAddress, kUblLoadAddress);
  }
  std::vector<uint8_t> UbootInNand() {
    return ImageInNand(sim::kUbootOffset, kUbootMagic, kUbootStartAddress, kUbootLoadAddress);
  }

  SimulatedTarget target_;
  ImageFolder images_;
  size_t sentBefore_ = 0;
  uint64_t start_ = 0;
  std::string console_;
};

const std::string kCommand = Nul("    CMD") + "55424c10";
const std::string kUblHeader =
    "A1ACED00000001000000380000000020"
    "0000";
const std::string kUbootHeader =
    "55424CBB81080000"
    "0002BF21"
    "81080000"
    "0000";

TEST_F(FlashBootLoadersSimTest, BothBootLoadersLandInNandByteForByte) {
  StartFlasher();
  ASSERT_TRUE(OpenLogFile("run.log"));
  ASSERT_EQ(Flash(), 1) << console_;
  CloseLogFile();

  EXPECT_EQ(Sent(), kCommand + Nul("    ACK") + kUblHeader + Text(kUbl) + Nul("    ACK") + kUbootHeader +
                        Text(kUboot));
  EXPECT_EQ(UblInNand(), kUbl);
  EXPECT_EQ(UbootInNand(), kUboot);
  const std::string log = ReadWholeFile("run.log");
  const size_t ublLine = log.find("Upload UBL image\r\n");
  const size_t ubootLine = log.find("Upload UBoot image\r\n");
  ASSERT_NE(ublLine, std::string::npos) << log;
  ASSERT_NE(ubootLine, std::string::npos) << log;
  EXPECT_LT(ublLine, ubootLine);
  EXPECT_NE(console_.find("File open: uboot.large.bin, size: 180001\nMagic: 0x55424CBB\n"
                          "StartAddr: 0x81080000\nDataCount: 0x0002BF21\nLoadAddr: 0x81080000\n\n"),
            std::string::npos)
      << console_;

  // The port is released, and the board now starts from its NAND: a break brings up the new UBL.
  RS232 port;
  ASSERT_TRUE(port.Open(target_.portName(), kPortSettings));
  port.SendBreak();
  CaptureStdout();
  const bool ublStarted = WaitForText(nullptr, "UBL Version:", &port, 5000);
  GetCapturedStdout();
  EXPECT_TRUE(ublStarted);
}

TEST_F(FlashBootLoadersSimTest, BootRomInsteadOfTheFlasherSendsNothing) {
  // No step 2: the board sits in its boot ROM and announces " BOOTME".
  EXPECT_EQ(Flash(), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_LT(target_.NowMs() - start_, 5000u);
  EXPECT_TRUE(UblInNand().empty());
}

TEST_F(FlashBootLoadersSimTest, FlasherThatAnnouncedOnlyOnceTimesOutAfterFiveSeconds) {
  target_.state().faults.noAnnounceRepeat = true;
  StartFlasher();  // its one "BOOTUBL" went by during step 2
  EXPECT_EQ(Flash(), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_GE(target_.NowMs() - start_, 5000u);
  EXPECT_LE(target_.NowMs() - start_, 5000u + kReadGrainMs);
}

TEST_F(FlashBootLoadersSimTest, RefusedHeaderSendsNoDataAndARetrySucceeds) {
  StartFlasher();
  target_.state().faults.failHeader = true;
  EXPECT_EQ(Flash(), 0);
  EXPECT_EQ(Sent(), kCommand + Nul("    ACK") + kUblHeader);
  EXPECT_LT(target_.NowMs() - start_, 5000u);
  EXPECT_TRUE(UblInNand().empty());

  // The operator's "r": the same step again, on the flasher that is still running.
  target_.state().faults.failHeader = false;
  ASSERT_EQ(Flash(), 1) << console_;
  EXPECT_EQ(UblInNand(), kUbl);
  EXPECT_EQ(UbootInNand(), kUboot);
}

TEST_F(FlashBootLoadersSimTest, MissingUbootIsNoticedAfterTheUblWasWritten) {
  std::remove(kUbootImageFile);
  StartFlasher();
  EXPECT_EQ(Flash(), 0);
  EXPECT_NE(console_.find("Can't open file uboot.large.bin\n"), std::string::npos) << console_;
  EXPECT_EQ(Sent(), kCommand + Nul("    ACK") + kUblHeader + Text(kUbl));
  EXPECT_EQ(UblInNand(), kUbl);
  EXPECT_TRUE(UbootInNand().empty());
}

// A network serial server whose line runs at 115200 baud takes each write at once and carries it
// at 11,520 bytes a second: a 200 KiB U-Boot is still 17.8 s on its way when the last write
// returns, and "   DONE" can only come after that.
TEST_F(FlashBootLoadersSimTest, BootLoadersThroughALineBehindDeepBuffers) {
  const std::vector<uint8_t> uboot = sim::MakeBootImage(sim::ImageKind::kUBoot, 200 * 1024, "uboot 200k");
  images_.Write(kUbootImageFile, uboot);
  target_.PaceHostLine(11520);
  StartFlasher();
  ASSERT_EQ(Flash(), 1) << console_;
  EXPECT_EQ(UblInNand(), kUbl);
  EXPECT_EQ(UbootInNand(), uboot);
  // The bytes really took their line time.
  EXPECT_GE(target_.NowMs() - start_, (kUbl.size() + uboot.size()) * 1000 / 11520);
}

// Steps 2 and 3 in a row, with a refused step 2 retried first.
TEST_F(FlashBootLoadersSimTest, RetriedUploadThenFlashing) {
  target_.state().faults.bootmeForBegin = true;
  CaptureStdout();
  EXPECT_EQ(UploadFlasher(target_.portName()), 0);
  GetCapturedStdout();
  target_.state().faults.bootmeForBegin = false;
  StartFlasher();
  ASSERT_EQ(Flash(), 1) << console_;
  EXPECT_EQ(UblInNand(), kUbl);
  EXPECT_EQ(UbootInNand(), kUboot);
}

}  // namespace
