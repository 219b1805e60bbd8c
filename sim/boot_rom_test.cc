#include <gtest/gtest.h>

#include "sim/test_line.h"

namespace sim {
namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<uint8_t> Flasher() { return MakeBootImage(ImageKind::kFlasher, 4002, "sft test"); }

// Runs a blank board to its first announcement and answers with an acknowledge and header.
void StartUartBoot(TestLine& line, const std::string& header) {
  ASSERT_TRUE(line.WaitFor(Msg(" BOOTME"), 300 * kMs));
  line.Take();
  line.Send(Msg("    ACK") + header);
}

TEST(BootRom, BlankBoardAnnouncesOnceASecondUntilAcknowledged) {
  TestLine line;
  line.Advance(3500 * kMs);
  EXPECT_EQ(Count(line.received(), Msg(" BOOTME")), 4u);
  EXPECT_EQ(line.received().size(), 32u);  // nothing but the announcements

  BoardOptions once;
  once.faults.noAnnounceRepeat = true;
  TestLine quiet(once);
  quiet.Advance(3500 * kMs);
  EXPECT_EQ(quiet.received(), Msg(" BOOTME"));
}

TEST(BootRom, TakesAGoodImageAndStartsTheFlasher) {
  TestLine line;
  UartBootStreams s = MakeUartBoot(Flasher());
  StartUartBoot(line, s.header);
  ASSERT_TRUE(line.WaitFor(Msg("  BEGIN"), 10 * kMs));
  line.Send(s.table);
  ASSERT_TRUE(line.WaitFor(Msg("   DONE"), 10 * kMs));
  EXPECT_EQ(line.Take(), Msg("  BEGIN") + Msg("   DONE"));
  line.Send(s.words);
  ASSERT_TRUE(line.WaitFor(Msg("BOOTUBL"), 100 * kMs));
  EXPECT_EQ(line.Take(), Msg("   DONE") + Msg("BOOTUBL"));
}

TEST(BootRom, RefusesBadHeadersWithAnotherBootme) {
  std::string good = MakeUartBoot(Flasher()).header;
  const std::string bad[] = {
      good.substr(0, 12) + "0200" + "0000",        // start address other than 0100
      good.substr(0, 16) + "0001",                 // tail other than 0000
      good.substr(0, 8) + "0FA2" + "0100" + "0000",  // count not whole words
      good.substr(0, 8) + "0000" + "0100" + "0000",  // empty image
      "XYZ" + good.substr(3),                      // not hexadecimal
  };
  for (const std::string& header : bad) {
    TestLine line;
    StartUartBoot(line, header);
    line.Advance(50 * kMs);
    EXPECT_EQ(line.Take(), Msg(" BOOTME")) << header;
  }
}

TEST(BootRom, WrongTableGivesCorruptAndAnnouncesAgain) {
  TestLine line;
  UartBootStreams s = MakeUartBoot(Flasher());
  StartUartBoot(line, s.header);
  std::string table = s.table;
  table[8 * 200 + 7] = table[8 * 200 + 7] == '0' ? '1' : '0';  // one digit of entry 200
  line.Send(table);
  line.Advance(50 * kMs);
  EXPECT_EQ(line.Take(), Msg("  BEGIN") + Msg("CORRUPT") + Msg(" BOOTME"));
}

TEST(BootRom, CheckValueIsVerifiedOverTheFileBytes) {
  std::vector<uint8_t> image = Flasher();
  UartBootStreams s = MakeUartBoot(image);
  {  // a wrong check value: refused after the image
    TestLine line;
    std::string header = s.header;
    header[7] = header[7] == 'A' ? 'B' : 'A';
    StartUartBoot(line, header);
    line.Send(s.table + s.words);
    line.Advance(50 * kMs);
    EXPECT_EQ(line.Take(), Msg("  BEGIN") + Msg("   DONE") + Msg("CORRUPT") + Msg(" BOOTME"));
  }
  {  // one flipped bit in the last word
    TestLine line;
    std::string words = s.words;
    words[words.size() - 1] ^= 1;
    StartUartBoot(line, s.header);
    line.Send(s.table + words);
    line.Advance(50 * kMs);
    EXPECT_EQ(line.Take(), Msg("  BEGIN") + Msg("   DONE") + Msg("CORRUPT") + Msg(" BOOTME"));
  }
  {  // a check value taken over the zero fill too is not the file's
    TestLine line;
    std::vector<uint8_t> filled = image;
    filled.resize((image.size() + 3) / 4 * 4, 0);
    std::string header = MakeUartBoot(filled).header;
    ASSERT_NE(header, s.header);
    StartUartBoot(line, header);
    line.Send(s.table + s.words);
    line.Advance(50 * kMs);
    EXPECT_EQ(line.Take(), Msg("  BEGIN") + Msg("   DONE") + Msg("CORRUPT") + Msg(" BOOTME"));
  }
}

TEST(BootRom, AnImageThatIsNoFlasherHangsAfterDone) {
  TestLine line;
  std::vector<uint8_t> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  UartBootStreams s = MakeUartBoot(ten);
  EXPECT_EQ(s.header.substr(8, 4), "000C");
  EXPECT_EQ(s.words.substr(0, 8), "04030201");
  StartUartBoot(line, s.header);
  line.Send(s.table + s.words);
  line.Advance(3 * kSec);
  EXPECT_EQ(line.Take(), Msg("  BEGIN") + Msg("   DONE") + Msg("   DONE"));
}

TEST(BootRom, FaultSwitchesGiveTheirAnswers) {
  struct Case {
    bool Faults::*flag;
    std::string expected;
  } cases[] = {
      {&Faults::bootmeForBegin, Msg(" BOOTME")},
      {&Faults::corruptAfterTable, Msg("  BEGIN") + Msg("CORRUPT") + Msg(" BOOTME")},
      {&Faults::corruptAfterImage, Msg("  BEGIN") + Msg("   DONE") + Msg("CORRUPT") + Msg(" BOOTME")},
  };
  UartBootStreams s = MakeUartBoot(Flasher());
  for (const Case& c : cases) {
    BoardOptions options;
    options.faults.*c.flag = true;
    TestLine line(options);
    StartUartBoot(line, s.header);
    line.Send(s.table + s.words);
    line.Advance(50 * kMs);
    EXPECT_EQ(line.Take(), c.expected);
  }
  BoardOptions silent;
  silent.faults.silent = true;
  TestLine line(silent);
  line.Advance(5 * kSec);
  EXPECT_EQ(line.Take(), "");
}

}  // namespace
}  // namespace sim
