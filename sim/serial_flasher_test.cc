#include <gtest/gtest.h>

#include "sim/state_dump.h"
#include "sim/test_line.h"

namespace sim {
namespace {

std::vector<uint8_t> Ubl() { return MakeBootImage(ImageKind::kUbl, 14336, "UBL test"); }
std::vector<uint8_t> UBoot() { return MakeBootImage(ImageKind::kUBoot, 70001, "U-Boot test"); }

std::string UblHeader(size_t size) { return ImageHeader(kUblMagic, 0x100, static_cast<uint32_t>(size), 0x20); }
std::string UBootHeader(size_t size) {
  return ImageHeader(kUBootMagic, 0x81080000, static_cast<uint32_t>(size), 0x81080000);
}

// A board whose boot ROM has just started the flasher, its "BOOTUBL" taken.
void BootFlasher(TestLine& line) {
  ASSERT_TRUE(line.WaitFor(Msg(" BOOTME"), 300 * kMs));
  UartBootStreams s = MakeUartBoot(MakeBootImage(ImageKind::kFlasher, 8000, "sft test"));
  line.Send(s.ack + s.header + s.table + s.words);
  ASSERT_TRUE(line.WaitFor(Msg("BOOTUBL"), 100 * kMs));
  line.Take();
}

void SendImage(TestLine& line, const std::string& header, const std::vector<uint8_t>& image) {
  ASSERT_TRUE(line.WaitFor(Msg("SENDIMG"), 100 * kMs));
  line.Take();
  line.Send(Msg("    ACK") + header);
  ASSERT_TRUE(line.WaitFor(Msg("  BEGIN"), 10 * kMs));
  line.Take();
  // The data in 128-byte writes, as the host sends it.
  for (size_t at = 0; at < image.size(); at += 128) {
    size_t n = image.size() - at < 128 ? image.size() - at : 128;
    line.Send(std::string(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at + n)));
    line.Advance(1 * kMs);
  }
  ASSERT_TRUE(line.WaitFor(Msg("   DONE"), 500 * kMs));
}

TEST(SerialFlasher, WritesBothImagesWhereTheBootChainFindsThem) {
  TestLine line;
  BootFlasher(line);
  line.Send(Msg("    CMD") + "55424c10");
  ASSERT_TRUE(line.WaitFor(Msg("   DONE"), 10 * kMs));
  SendImage(line, UblHeader(Ubl().size()), Ubl());
  SendImage(line, UBootHeader(UBoot().size()), UBoot());
  line.Advance(2 * kSec);
  EXPECT_EQ(line.Take().find("BOOTUBL"), std::string::npos);  // no announcement after the work

  std::string dump = line.board().DumpState();
  EXPECT_NE(dump.find("nand.ubl: valid \"UBL test\", 14336 bytes"), std::string::npos) << dump;
  EXPECT_NE(dump.find("nand.uboot: valid \"U-Boot test\", 70001 bytes"), std::string::npos) << dump;
  std::vector<uint8_t> stored = line.state().nand.Read(kUbootOffset + kNandPage, 70001);
  EXPECT_EQ(stored, UBoot());

  // The next reset starts the UBL from NAND, which finds U-Boot valid.
  line.Break(500 * kMs);
  ASSERT_TRUE(line.WaitFor("jumping to entry point", 400 * kMs));
  std::string boot = line.Take();
  size_t version = boot.find("UBL Version:"), valid = boot.find("Valid"), done = boot.find("DONE");
  ASSERT_NE(version, std::string::npos);
  EXPECT_LT(version, valid);
  EXPECT_LT(valid, done);
  EXPECT_EQ(boot.find("BOOTME"), std::string::npos);
  EXPECT_EQ(boot.find("Bad"), std::string::npos);
}

TEST(SerialFlasher, RefusesAWrongCommandOrHeaderWithFail) {
  struct Case {
    const char* what;
    std::string command;
    std::string header;
  } cases[] = {
      {"unknown command", "55424c11", ""},
      {"U-Boot magic first", "55424c10", UBootHeader(14336)},
      {"wrong load address", "55424c10", ImageHeader(kUblMagic, 0x100, 14336, 0x100)},
      {"UBL too large", "55424c10", UblHeader(14337)},
      {"empty image", "55424c10", UblHeader(0)},
      {"bad tail", "55424c10", UblHeader(14336).substr(0, 32) + "0001"},
  };
  for (const Case& c : cases) {
    TestLine line;
    BootFlasher(line);
    line.Send(Msg("    CMD") + c.command);
    if (!c.header.empty()) {
      ASSERT_TRUE(line.WaitFor(Msg("SENDIMG"), 10 * kMs));
      line.Take();
      line.Send(Msg("    ACK") + c.header);
    }
    line.Advance(10 * kMs);
    EXPECT_EQ(line.Take(), Msg("   FAIL") + Msg("BOOTUBL")) << c.what;
    EXPECT_TRUE(line.state().nand.IsErased(0, 0x100000)) << c.what;
  }
}

TEST(SerialFlasher, FailHeaderFaultAndDamagedUBootInNand) {
  BoardOptions options;
  options.faults.failHeader = true;
  TestLine failing(options);
  BootFlasher(failing);
  failing.Send(Msg("    CMD") + "55424c10");
  ASSERT_TRUE(failing.WaitFor(Msg("SENDIMG"), 10 * kMs));
  failing.Send(Msg("    ACK") + UblHeader(14336));
  EXPECT_TRUE(failing.WaitFor(Msg("   FAIL"), 10 * kMs));

  // A U-Boot image with one byte changed is written, but the UBL calls it bad.
  TestLine line;
  BootFlasher(line);
  line.Send(Msg("    CMD") + "55424c10");
  std::vector<uint8_t> damaged = UBoot();
  damaged[5000] ^= 0x40;
  SendImage(line, UblHeader(Ubl().size()), Ubl());
  SendImage(line, UBootHeader(damaged.size()), damaged);
  line.Break(500 * kMs);
  ASSERT_TRUE(line.WaitFor("FAIL", 400 * kMs));
  std::string boot = line.Take();
  EXPECT_NE(boot.find("Bad"), std::string::npos) << boot;
  EXPECT_EQ(boot.find("Valid"), std::string::npos) << boot;
}

}  // namespace
}  // namespace sim
