// The flash command on a scripted line: its two texts, and the command's wait, which the
// simulated board cannot be made to leave unanswered.
#include "host/link/boot_loader_flashing.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/link/boot_image_test_files.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

std::string Nul(const char* text) { return std::string(text) + '\0'; }

class FlashCommandTest : public ::testing::Test {
 protected:
  FlashCommandTest() : ports_(clock_.clock()), flasher_(ports_.Add("SCRIPT1")) {
    images_.Write(kUblImageFile, PatternBytes(200, 1));
    images_.Write(kUbootImageFile, PatternBytes(300, 2));
  }
  int Flash() {
    CaptureStdout();
    const int result = FlashBootLoaders("SCRIPT1");
    console_ = GetCapturedStdout();
    return result;
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const auto& record : flasher_.writes) writes.push_back(record.bytes);
    return writes;
  }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_;
  ScriptedPort& flasher_;
  ImageFolder images_;
  std::string console_;
};

TEST_F(FlashCommandTest, CommandTextThenLowerCaseWordThenFiveSecondsForTheAnswer) {
  flasher_.SendAfter(50, Nul("BOOTUBL"));
  EXPECT_EQ(Flash(), 0);
  EXPECT_EQ(Writes(), (std::vector<std::string>{Nul("    CMD"), "55424c10"}));
  EXPECT_NE(console_.find("Target:     CMD\nTarget: 55424c10\n"), std::string::npos) << console_;
  EXPECT_TRUE(flasher_.breaks.empty());  // a break would restart the board and lose the flasher
  const uint64_t waited = clock_.clock().NowMs() - flasher_.writes.back().atMs;
  EXPECT_GE(waited, 5000u);
  EXPECT_LE(waited, 5000u + 1001);
  EXPECT_FALSE(flasher_.lineOpen);
}

TEST_F(FlashCommandTest, FlasherRestartInsteadOfDoneFailsAtOnce) {
  flasher_.SendAfter(50, Nul("BOOTUBL"));
  flasher_.SendAfter(100, Nul("BOOTUBL"));
  EXPECT_EQ(Flash(), 0);
  EXPECT_EQ(Writes().size(), 2u);
  EXPECT_LT(clock_.clock().NowMs() - flasher_.writes.back().atMs, 1000u);
}

}  // namespace
