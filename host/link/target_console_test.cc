#include "host/link/target_console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/platform/console.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"
#include "host/testing/temp_path.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TargetConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenLogFile(logPath_));
    ASSERT_EQ(port_.Open("SCRIPT1", kPortSettings), 1);
    start_ = Now();
    testing::internal::CaptureStdout();
  }
  void TearDown() override {
    if (!captured_) testing::internal::GetCapturedStdout();
    CloseLogFile();
    std::remove(logPath_.c_str());
  }
  std::string Console() {
    captured_ = true;
    return testing::internal::GetCapturedStdout();
  }
  std::string Log() {
    CloseLogFile();
    return ReadFile(logPath_);
  }
  uint64_t Now() { return clock_.clock().NowMs(); }
  uint64_t Elapsed() { return Now() - start_; }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_{clock_.clock()};
  ScriptedPort& target_ = ports_.Add("SCRIPT1");
  RS232 port_;
  std::string logPath_ = UniqueTempPath("target_console_test.log");
  uint64_t start_ = 0;
  bool captured_ = false;
};

TEST_F(TargetConsoleTest, LinesAreShownLoggedAndMatched) {
  target_.SendAfter(10, "UBL Version: 1.50\r\n");
  target_.SendAfter(15, "B-Boot > iminfo\r\r\n\r\n");
  target_.SendAfter(20, "ok FAIL both\n");
  EXPECT_TRUE(WaitForText("FAIL", "ok", &port_, 5000));  // success is looked for first
  // The board's CR LF, and U-Boot's CR CR LF after an echo, end a line once: no "Target: " of
  // their own; the empty line is a line.
  EXPECT_EQ(Console(),
            "Target: UBL Version: 1.50\r\nTarget: B-Boot > iminfo\r\nTarget: \r\nTarget: ok FAIL both\n");
  // The log ends each line with a carriage return and line feed of its own.
  EXPECT_EQ(Log(), "UBL Version: 1.50\r\nB-Boot > iminfo\r\n\r\nok FAIL both\r\n");
  EXPECT_EQ(Elapsed(), 20u);
}

TEST_F(TargetConsoleTest, FailureTextEndsTheWaitAndNullFailureTextIsIgnored) {
  target_.SendAfter(5, std::string("   FAIL\0", 8));
  EXPECT_FALSE(WaitForText("   FAIL", "   DONE", &port_, 5000));
  EXPECT_EQ(Elapsed(), 5u);

  target_.SendAfter(5, std::string("   FAIL\0", 8));
  target_.SendAfter(10, std::string("   DONE\0", 8));
  EXPECT_TRUE(WaitForText(nullptr, "   DONE", &port_, 5000));
  // A NUL ends a line as a line feed would.
  EXPECT_EQ(Console(), "Target:    FAIL\nTarget:    FAIL\nTarget:    DONE\n");
}

TEST_F(TargetConsoleTest, SilentLineTimesOutWithinOneReadOfTheTimeout) {
  EXPECT_FALSE(WaitForText(nullptr, " BOOTME", &port_, 1000));
  EXPECT_EQ(Elapsed(), 1001u);  // the silent read that passed the time-out ends the wait

  // Lines that never match keep the wait going until its time-out.
  start_ = Now();
  for (int i = 1; i <= 30; ++i) target_.SendAfter(100 * i, "noise\n");
  EXPECT_FALSE(WaitForText(nullptr, "UBL", &port_, 1000));
  EXPECT_EQ(Elapsed(), 1000u);
  std::string lines;
  for (int i = 0; i < 10; ++i) lines += "Target: noise\n";
  EXPECT_EQ(Console(), lines);
}

TEST_F(TargetConsoleTest, ByteArrivingAfterTheTimeoutFinishesTheLineWithALineFeed) {
  target_.SendAfter(900, "abc");
  target_.SendAfter(1050, "d");
  target_.SendAfter(1060, "e\n");
  EXPECT_FALSE(WaitForText(nullptr, "zzz", &port_, 1000));
  EXPECT_EQ(Console(), "Target: abcd\n");
  EXPECT_EQ(Elapsed(), 1050u);
}

TEST_F(TargetConsoleTest, PromptWithoutLineEndIsActedOnAsSoonAsTheTargetFallsQuiet) {
  target_.SendAfter(300, "B-Boot > ");
  EXPECT_TRUE(WaitForText(nullptr, "B-Boot >", &port_, 30000));
  EXPECT_GE(Elapsed(), 300u);
  EXPECT_LE(Elapsed(), 320u);
  // The whole prompt, its trailing space too, is one finished line on the console and in the log.
  EXPECT_EQ(Console(), "Target: B-Boot > \n");
  EXPECT_EQ(Log(), "B-Boot > \r\n");
}

TEST_F(TargetConsoleTest, AwaitedTextInARunningLineWaitsForItsEnd) {
  // The rest of the line follows within the quiet: the line stays whole, as the target ended it.
  target_.SendAfter(10, "UBL");
  target_.SendAfter(15, " Version: 1.50\r\n");
  EXPECT_TRUE(WaitForText(nullptr, "UBL Version:", &port_, 5000));
  EXPECT_EQ(Elapsed(), 15u);

  // A failure text ends a quiet prompt line as quickly; a prompt line holding both texts is success.
  start_ = Now();
  target_.SendAfter(10, "Login incorrect\nlogin: ");
  EXPECT_FALSE(WaitForText("login:", ":~#", &port_, 5000));
  EXPECT_LE(Elapsed(), 30u);
  target_.SendAfter(10, "login: root@brenlo:~# ");
  EXPECT_TRUE(WaitForText("login:", ":~#", &port_, 5000));
  EXPECT_EQ(Log(), "UBL Version: 1.50\r\nLogin incorrect\r\nlogin: \r\nlogin: root@brenlo:~# \r\n");
}

TEST_F(TargetConsoleTest, TimeOutsCountFromWhenTheWrittenBytesHaveLeftTheLine) {
  // 23,040 bytes are two seconds on a 115200-baud 8N1 line, however soon the write returned.
  const std::string image(23040, 'x');
  uint32_t written = 0;
  ASSERT_EQ(port_.Write(image.data(), static_cast<uint32_t>(image.size()), &written, 0), 1);
  EXPECT_FALSE(WaitForText(nullptr, "   DONE", &port_, 1000));
  EXPECT_GE(Elapsed(), 3000u);
  EXPECT_LT(Elapsed(), 3000u + 1001u);  // within one silent read of the time-out

  // What drained while the program slept is not counted twice; a value wait counts the same way.
  ASSERT_EQ(port_.Write(image.data(), static_cast<uint32_t>(image.size()), &written, 0), 1);
  clock_.clock().Advance(1500);
  start_ = Now();
  std::string value;
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 0);
  EXPECT_GE(Elapsed(), 5500u);
  EXPECT_LT(Elapsed(), 5500u + 1001u);
}

TEST_F(TargetConsoleTest, NothingIsInventedOrRepeatedOnSilentReads) {
  target_.SendAfter(1500, "x");
  target_.SendAfter(4000, "y\n");
  EXPECT_FALSE(WaitForText(nullptr, "xx", &port_, 3000));
  EXPECT_EQ(Console(), "Target: x\n");
}

TEST_F(TargetConsoleTest, FailedReadEndsTheWaitWithoutShowingThePartialLine) {
  target_.SendAfter(10, "partial");
  target_.FailReadsFrom(Now() + 20, 121);
  EXPECT_FALSE(WaitForText(nullptr, "partial", &port_, 10000));
  EXPECT_EQ(Console(), "");
  EXPECT_LE(Elapsed(), 21u);
}

TEST_F(TargetConsoleTest, LongLinesAreShownButNotLogged) {
  const std::string longLine = std::string(300, 'a') + "\n";
  const std::string line254 = std::string(253, 'b') + "\n";  // 254 characters with its end
  const std::string line255 = std::string(254, 'c') + "\n";
  target_.SendAfter(1, longLine + line254 + line255 + "end\n");
  EXPECT_TRUE(WaitForText(nullptr, "end", &port_, 1000));
  EXPECT_EQ(Console(), "Target: " + longLine + "Target: " + line254 + "Target: " + line255 + "Target: end\n");
  EXPECT_EQ(Log(), std::string(253, 'b') + "\r\nend\r\n");
}

// printenv's answer up to the prompt: every line kept as read, a 300-character one whole though it
// is not logged, and the quiet prompt that ends it too.
TEST_F(TargetConsoleTest, KeptLinesAreWholeUpToThePrompt) {
  const std::string longLine = "bootmmc=" + std::string(300, 'v') + "\r\n";
  target_.SendAfter(5, "ipaddr=192.168.102.30\r\n" + longLine + "B-Boot > ");
  std::vector<std::string> lines{"earlier"};
  EXPECT_TRUE(WaitForTextKeepingLines({}, "B-Boot >", &port_, 5000, &lines));
  EXPECT_NE(Console().find("Target: " + longLine.substr(0, longLine.size() - 1)), std::string::npos);
  EXPECT_EQ(lines, (std::vector<std::string>{"earlier", "ipaddr=192.168.102.30\r", "\n",
                                             longLine.substr(0, longLine.size() - 1), "\n", "B-Boot > \n"}));
  EXPECT_LE(Elapsed(), 20u);
  EXPECT_EQ(Log(), "ipaddr=192.168.102.30\r\nB-Boot > \r\n");
}

TEST_F(TargetConsoleTest, WriteLogKeepsTextsShorterThan255) {
  WriteLog(std::string(254, 'w'));
  WriteLog(std::string(255, 'x'));
  WriteLog("Step 1\n");
  EXPECT_EQ(Log(), std::string(254, 'w') + "Step 1\r\n");
  WriteLog("closed");  // nothing happens while the log is closed
  EXPECT_EQ(ReadFile(logPath_), std::string(254, 'w') + "Step 1\r\n");
}

TEST_F(TargetConsoleTest, WaitForValueTakesTheRestOfTheLine) {
  std::string value = "old";
  target_.SendAfter(10, "baudrate=115200\r\nserialno=QV4N150101XXX\r\n");
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 1);
  EXPECT_EQ(value, "QV4N150101XXX");
  EXPECT_EQ(Console(), "Target: baudrate=115200\r\nTarget: serialno=QV4N150101XXX\r");
  EXPECT_EQ(Log(), "");  // value lines are not logged
}

TEST_F(TargetConsoleTest, WaitForValueWindowIsCountedFromTheCall) {
  std::string value = "kept";
  for (int i = 1; i <= 80; ++i) target_.SendAfter(100 * i, "ethaddr=00:0e:99:02:03:04\n");
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 0);
  EXPECT_EQ(value, "kept");
  EXPECT_EQ(Elapsed(), 5000u);

  start_ = Now();
  EXPECT_EQ(WaitForValue(value, &port_, "never"), 0);  // a silent line: 0 after about 5 s
  EXPECT_GE(Elapsed(), 5000u);
  EXPECT_LE(Elapsed(), 6100u);
  EXPECT_EQ(value, "kept");
}

TEST_F(TargetConsoleTest, WaitForValueTakesWholeLinesAndSurvivesSilenceAndFailedReads) {
  // A pause inside the line (an adapter's latency timer, a server's packing) does not cut it.
  std::string value;
  target_.SendAfter(100, "serialno=QV4N");
  target_.SendAfter(1600, "150101ABC\r\n");
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 1);
  EXPECT_EQ(value, "QV4N150101ABC");

  // A line that never ends gives no value.
  value = "kept";
  start_ = Now();
  target_.SendAfter(100, "serialno=AB");
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 0);
  EXPECT_EQ(value, "kept");
  EXPECT_LE(Elapsed(), 6100u);

  target_.SendAfter(10, "serialno=\n");
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 1);
  EXPECT_EQ(value, "");

  target_.FailReadsFrom(Now(), 5);  // failing reads do not end the window early
  start_ = Now();
  EXPECT_EQ(WaitForValue(value, &port_, "serialno="), 0);
  EXPECT_GE(Elapsed(), 5000u);
  EXPECT_LE(Elapsed(), 5100u);
}

// A verdict the time-out cuts off before its line ends is shown, but never taken.
TEST_F(TargetConsoleTest, AWholeLineCutByTheTimeOutIsNotMatched) {
  target_.SendAfter(10, "   Verifying Checksum ... OK");
  EXPECT_FALSE(WaitForLine({}, "Verifying Checksum ... OK", &port_, 3000));
  EXPECT_EQ(Console(), "Target:    Verifying Checksum ... OK\n");
  EXPECT_LE(Elapsed(), 4001u);
}

TEST(ShowProgressTest, AnUploadsBarIsRedrawnOnlyWhenItsTextChanges) {
  testing::internal::CaptureStdout();
  ProgressBar bar;
  for (unsigned block = 0; block < 2048; ++block) bar.Show(block * 100 / 2048);
  bar.Show(100);
  const std::string shown = testing::internal::GetCapturedStdout();
  size_t redraws = 0;
  for (size_t at = shown.find('\t'); at != std::string::npos; at = shown.find('\t', at + 1)) ++redraws;
  EXPECT_EQ(redraws, 101u);
  EXPECT_EQ(shown.substr(0, 8), "\t 000% [");
  EXPECT_NE(shown.find("\t 100% ["), std::string::npos);
}

TEST(ShowProgressTest, DrawsFiftyCells) {
  const std::string full = ProgressFullBlock();
  auto cells = [&](int filled) {
    std::string bar;
    for (int i = 0; i < 50; ++i) bar += i < filled ? full : "-";
    return bar;
  };
  testing::internal::CaptureStdout();
  ShowProgress(0);
  ShowProgress(50);
  ShowProgress(99);
  ShowProgress(100);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\t 000% [ " + cells(0) + " ] \r" + "\t 050% [ " +
                                                        cells(25) + " ] \r" + "\t 099% [ " + cells(49) +
                                                        " ] \r" + "\t 100% [ " + cells(50) + " ] \r\n");
}

}  // namespace
