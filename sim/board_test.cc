#include <gtest/gtest.h>

#include "sim/test_line.h"

namespace sim {
namespace {

TEST(Board, OnlyABreakOfAHundredMillisecondsRestarts) {
  BoardOptions options;
  options.faults.noAnnounceRepeat = true;
  TestLine line(options);
  ASSERT_TRUE(line.WaitFor(Msg(" BOOTME"), 300 * kMs));
  line.Take();
  line.Break(99 * kMs);
  line.Advance(200 * kMs);
  EXPECT_EQ(line.Take(), "");
  EXPECT_EQ(line.state().resets, 0u);

  line.Break(100 * kMs);
  Micros released = line.now();
  ASSERT_TRUE(line.WaitFor(Msg(" BOOTME"), 200 * kMs));
  EXPECT_EQ(line.state().resets, 1u);
  // The board stays in reset while the break lasts and boots a little after its end.
  EXPECT_GT(line.now(), released);
  EXPECT_LE(line.now(), released + 110 * kMs);
}

TEST(Board, BaudEmulationSendsTenBitsAByte) {
  BoardOptions options;
  options.baudEmulation = true;
  TestLine line(options);
  ASSERT_TRUE(line.WaitFor(Msg(" BOOTME"), 300 * kMs));
  Micros first = line.now();
  line.Take();
  line.Advance(1);
  // Eight bytes at 115200 baud: 694 us from the first to the last.
  TestLine fast;
  ASSERT_TRUE(fast.WaitFor(Msg(" BOOTME"), 300 * kMs));
  EXPECT_EQ(first - fast.now(), 695u);
}

TEST(Board, WrongLineSettingsTurnTrafficIntoGarbage) {
  TestLine line;
  line.board().SetLineSettings(9600, 8, 'n', 1);
  line.Advance(100 * kMs);
  std::string heard = line.Take();
  EXPECT_EQ(heard.size(), 8u);
  EXPECT_EQ(heard.find("BOOTME"), std::string::npos);
  line.board().SetLineSettings(115200, 8, 'n', 1);
  line.Advance(1 * kSec);
  EXPECT_EQ(line.Take(), Msg(" BOOTME"));
}

// U-Boot polls its UART: while it works (a NAND erase) nobody reads it, and of what arrives then
// the FIFO keeps 16 characters and loses the rest; at the prompt a longer line is taken whole.
TEST(Board, UBootsUartKeepsSixteenCharactersWhileACommandRuns) {
  TestLine line;
  InstallBootLoaders(line.state().nand);
  ASSERT_TRUE(line.WaitFor("Hit any key to stop autoboot", 5 * kSec));
  line.Send("\r");
  ASSERT_TRUE(line.WaitFor("B-Boot > ", kSec));
  // The next line came together with the erase's: 16 of its 32 characters are kept.
  line.Send("nand erase 200000 400000\recho abcdefghijklmnopqrstuvwxyz\r");
  line.Advance(1 * kMs);
  EXPECT_EQ(line.state().lostCharacters, 16u);
  ASSERT_TRUE(line.WaitFor("OK\r\nB-Boot > echo abcdefghijk", kSec));
  line.Send("\r");
  ASSERT_TRUE(line.WaitFor("\r\r\nabcdefghijk\r\nB-Boot > ", kSec));
  // Typed while the erase runs: the same.
  line.Send("nand erase 200000 400000\r");
  line.Advance(1 * kMs);
  line.Send("echo 0123456789abcdefghij\r");
  ASSERT_TRUE(line.WaitFor("OK\r\nB-Boot > echo 0123456789a", kSec));
  EXPECT_EQ(line.state().lostCharacters, 26u);
}

TEST(Board, RunsAreDeterministic) {
  auto run = [] {
    TestLine line;
    line.Advance(1500 * kMs);
    line.Send(Msg("    ACK") + "garbage header here");
    line.Break(300 * kMs);
    line.Advance(2 * kSec);
    return line.Take() + std::to_string(line.now());
  };
  EXPECT_EQ(run(), run());
}

}  // namespace
}  // namespace sim
