// Step 2 against the simulated board on the virtual clock: the boot ROM checks the header, the
// CRC table and the image itself, and its fault switches give every failure row.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/link/boot_image_test_files.h"
#include "host/link/flasher_upload.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/testing/simulated_target.h"
#include "sim/images.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// Break, purge and the pause after them, before the first wait starts.
constexpr uint64_t kBeforeFirstWaitMs = 1000;
// A wait gives up at the grain of one silent one-byte read (1 ms a byte plus 1000 ms).
constexpr uint64_t kReadGrainMs = 1001;

// 4098 bytes: the last word carries two bytes of zero fill.
const std::vector<uint8_t> kFlasher = sim::MakeBootImage(sim::ImageKind::kFlasher, 4098, "sft test");

bool HasEvent(sim::BoardState& state, const std::string& text) {
  for (const auto& event : state.events)
    if (event.find(text) != std::string::npos) return true;
  return false;
}

class UploadFlasherSimTest : public ::testing::Test {
 protected:
  explicit UploadFlasherSimTest(const sim::BoardOptions& options = sim::BoardOptions())
      : target_(options) {
    images_.Write(kFlasherImageFile, kFlasher);
  }

  int Upload() {
    start_ = target_.NowMs();
    CaptureStdout();
    const int result = UploadFlasher(target_.portName());
    console_ = GetCapturedStdout();
    return result;
  }
  uint64_t Elapsed() { return target_.NowMs() - start_; }
  std::string HostText() const {
    return std::string(target_.HostBytes().begin(), target_.HostBytes().end());
  }

  SimulatedTarget target_;
  ImageFolder images_;
  uint64_t start_ = 0;
  std::string console_;
};

constexpr size_t kHeaderBytes = 8 + 20;  // the acknowledge with its NUL, the header
constexpr size_t kTableBytes = 256 * 8;
constexpr size_t kImageBytes = (4098 + 3) / 4 * 8;

TEST_F(UploadFlasherSimTest, BootRomTakesTheFlasherAndStartsIt) {
  ASSERT_EQ(Upload(), 1) << console_;
  EXPECT_TRUE(HasEvent(target_.state(), "boot rom: starting the serial flasher sft test"));
  EXPECT_EQ(HostText().size(), kHeaderBytes + kTableBytes + kImageBytes);
  EXPECT_EQ(HostText().substr(0, 8), std::string("    ACK") + '\0');
  EXPECT_EQ(HostText().substr(8 + 8, 12), "100401000000");  // 4098 bytes rounded to 0x1004
  EXPECT_EQ(target_.OpenCount(), 1);
  // The port is released: the flasher's announcement is there for the next step to open.
  RS232 next;
  ASSERT_TRUE(next.Open(target_.portName(), kPortSettings));
  CaptureStdout();
  EXPECT_TRUE(WaitForText(nullptr, "BOOTUBL", &next, 5000));
  GetCapturedStdout();
}

TEST_F(UploadFlasherSimTest, EveryRefusalOfTheBootRomFailsTheStep) {
  struct Row {
    const char* name;
    bool sim::Faults::*fault;
    size_t bytesSent;
  };
  const Row rows[] = {
      {"BOOTME for BEGIN", &sim::Faults::bootmeForBegin, kHeaderBytes},
      {"CORRUPT after the table", &sim::Faults::corruptAfterTable, kHeaderBytes + kTableBytes},
      {"CORRUPT after the image", &sim::Faults::corruptAfterImage,
       kHeaderBytes + kTableBytes + kImageBytes},
  };
  size_t sentBefore = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    target_.state().faults = sim::Faults();
    target_.state().faults.*row.fault = true;
    EXPECT_EQ(Upload(), 0);
    EXPECT_EQ(HostText().size() - sentBefore, row.bytesSent);
    sentBefore = HostText().size();
    // The refusal ends the wait when it comes, not at the time-out.
    EXPECT_LT(Elapsed(), kBeforeFirstWaitMs + 5000);
    EXPECT_FALSE(HasEvent(target_.state(), "starting the serial flasher"));
  }
  // The failure rows are refusals the ROM really sent, not time-outs of the host.
  EXPECT_TRUE(HasEvent(target_.state(), "BOOTME for BEGIN (fault)"));
  EXPECT_TRUE(HasEvent(target_.state(), "CORRUPT after the table (fault)"));
  EXPECT_TRUE(HasEvent(target_.state(), "CORRUPT after the image (fault)"));
}

TEST_F(UploadFlasherSimTest, SilentBoardTimesOutAfterFiveSeconds) {
  target_.state().faults.silent = true;
  target_.board().PowerCycle(target_.NowMs() * 1000);
  EXPECT_EQ(Upload(), 0);
  EXPECT_TRUE(target_.HostBytes().empty());
  EXPECT_GE(Elapsed(), kBeforeFirstWaitMs + 5000);
  EXPECT_LE(Elapsed(), kBeforeFirstWaitMs + 5000 + kReadGrainMs);
}

TEST_F(UploadFlasherSimTest, MissingImageIsReportedBeforeAnyWait) {
  std::remove(kFlasherImageFile);
  EXPECT_EQ(Upload(), 0);
  EXPECT_EQ(console_, "Can't open file sft_DM6446_NAND.bin\n");
  EXPECT_TRUE(target_.HostBytes().empty());
  EXPECT_EQ(Elapsed(), kBeforeFirstWaitMs);
}

// A retried step starts afresh: a new break, a new announcement, the whole upload again.
TEST_F(UploadFlasherSimTest, RetryAfterARefusalSucceeds) {
  target_.state().faults.corruptAfterImage = true;
  ASSERT_EQ(Upload(), 0);
  target_.state().faults.corruptAfterImage = false;
  const size_t sentFirst = HostText().size();
  ASSERT_EQ(Upload(), 1) << console_;
  EXPECT_EQ(target_.OpenCount(), 2);
  EXPECT_EQ(HostText().substr(sentFirst), HostText().substr(0, sentFirst));
  EXPECT_TRUE(HasEvent(target_.state(), "boot rom: starting the serial flasher sft test"));
}

// A boot ROM that announces only once: the host must catch the first " BOOTME" after its break.
class UploadFlasherSingleAnnouncementTest : public UploadFlasherSimTest {
 protected:
  static sim::BoardOptions Options() {
    sim::BoardOptions options;
    options.faults.noAnnounceRepeat = true;
    return options;
  }
  UploadFlasherSingleAnnouncementTest() : UploadFlasherSimTest(Options()) {}
};

TEST_F(UploadFlasherSingleAnnouncementTest, FirstAnnouncementAfterTheBreakIsCaught) {
  ASSERT_EQ(Upload(), 1) << console_;
  EXPECT_TRUE(HasEvent(target_.state(), "boot rom: starting the serial flasher"));
}

}  // namespace
