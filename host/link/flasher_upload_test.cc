// The boot ROM upload on a scripted line: the text that goes out in which Write, and the images
// that are refused before anything is sent. The boot ROM's own verdicts are tested against the
// simulated board (flasher_steps_sim_test.cc).
#include "host/link/flasher_upload.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/boot_image_test_files.h"
#include "host/link/log_file.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"
#include "sim/crc.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

std::string Nul(const char* text) { return std::string(text) + '\0'; }

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string ReadWholeFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class UploadFlasherTest : public ::testing::Test {
 protected:
  UploadFlasherTest() : ports_(clock_.clock()), rom_(ports_.Add("SCRIPT1")) {
    // The boot ROM announces itself after the restart and answers each part in turn.
    rom_.onBreak = [](ScriptedPort& port) {
      const uint64_t now = port.clock().NowMs();
      port.SendAt(now + 100, Nul(" BOOTME"));
      port.SendAt(now + 600, Nul("  BEGIN"));
      port.SendAt(now + 700, Nul("   DONE"));
      port.SendAt(now + 800, Nul("   DONE"));
    };
  }

  int Upload() {
    CaptureStdout();
    const int result = UploadFlasher("SCRIPT1");
    console_ = GetCapturedStdout();
    return result;
  }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_;
  ScriptedPort& rom_;
  ImageFolder images_;
  std::string console_;
};

TEST_F(UploadFlasherTest, TenByteImageGoesAsHeaderTableAndThreeWords) {
  const std::vector<uint8_t> image{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  images_.Write(kFlasherImageFile, image);
  ASSERT_TRUE(OpenLogFile("run.log"));
  const uint64_t start = clock_.clock().NowMs();
  ASSERT_EQ(Upload(), 1);
  CloseLogFile();

  // A 500 ms break first, then a purge of what the target said before.
  ASSERT_EQ(rom_.breaks.size(), 1u);
  EXPECT_EQ(rom_.breaks[0].onMs, start);
  EXPECT_EQ(rom_.breaks[0].offMs - rom_.breaks[0].onMs, 500u);
  EXPECT_GE(rom_.purges.size(), 2u);  // the open's and the one after the break

  ASSERT_EQ(rom_.writes.size(), 2u + 256 + 3);
  EXPECT_EQ(rom_.writes[0].bytes, Nul("    ACK"));
  // The check value covers the ten file bytes only, not the two bytes that fill the last word.
  const std::string check = Hex8(~sim::Crc32(image.data(), image.size()));
  EXPECT_EQ(rom_.writes[1].bytes, check +
                                      "000C"
                                      "0100"
                                      "0000");
  EXPECT_EQ(rom_.writes[2].bytes, "00000000");
  EXPECT_EQ(rom_.writes[3].bytes, "77073096");
  for (unsigned i = 0; i < 256; ++i) {
    EXPECT_EQ(rom_.writes[2 + i].bytes, Hex8(sim::Crc32TableEntry(i))) << i;
  }
  EXPECT_EQ(rom_.writes[258].bytes, "04030201");
  EXPECT_EQ(rom_.writes[259].bytes, "08070605");
  EXPECT_EQ(rom_.writes[260].bytes, "00000A09");

  EXPECT_NE(console_.find("\nFile open: sft_DM6446_NAND.bin, size 10\nUBL CRC32: " + check +
                          "\n\nTarget:     ACK\nTarget: " + check + "000C01000000\n"),
            std::string::npos)
      << console_;
  EXPECT_NE(console_.find("\n\t\t\tUploading CRC32 table..\n"), std::string::npos);
  const size_t data = console_.find("\n\t\t\tUploading Data..\n");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(ProgressShown(console_.substr(data)), (std::vector<std::string>{"000", "050", "100"}));
  // Not a single word of the image is sent before the boot ROM announced itself.
  EXPECT_GE(rom_.writes[0].atMs, rom_.breaks[0].offMs + 100);

  const std::string log = ReadWholeFile("run.log");
  EXPECT_NE(log.find("Upload flasher image\r\n"), std::string::npos) << log;
}

TEST_F(UploadFlasherTest, FourBytesOrLessGoAsOneWordWithAFullBar) {
  images_.Write(kFlasherImageFile, {0xEF, 0xBE});
  ASSERT_EQ(Upload(), 1);
  ASSERT_EQ(rom_.writes.size(), 2u + 256 + 1);
  EXPECT_EQ(rom_.writes[1].bytes.substr(8), "000401000000");
  EXPECT_EQ(rom_.writes.back().bytes, "0000BEEF");
  // The data bar is drawn once, at 100.
  const size_t data = console_.find("Uploading Data..");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(ProgressShown(console_.substr(data)), std::vector<std::string>{"100"});
}

TEST_F(UploadFlasherTest, ImagesThatCannotBeSentAreRefusedBeforeAnyByte) {
  struct Case {
    std::vector<uint8_t> image;
    bool present;
    std::string message;
  };
  const Case cases[] = {
      {{}, false, "Can't open file sft_DM6446_NAND.bin\n"},
      {{}, true, "Error: image file sft_DM6446_NAND.bin is empty.\n"},
      {PatternBytes(0xFFFD, 13), true,
       "Error: cannot upload sft_DM6446_NAND.bin: its 65533 bytes are more than the boot ROM "
       "takes (65532).\n"},
  };
  for (const Case& c : cases) {
    std::remove(kFlasherImageFile);
    if (c.present) images_.Write(kFlasherImageFile, c.image);
    rom_.writes.clear();
    const uint64_t start = clock_.clock().NowMs();
    EXPECT_EQ(Upload(), 0);
    EXPECT_TRUE(rom_.writes.empty());
    EXPECT_NE(console_.find(c.message), std::string::npos) << console_;
    // Refused before the wait for " BOOTME": only the break and the pause after it.
    EXPECT_EQ(clock_.clock().NowMs() - start, 1000u);
    EXPECT_FALSE(rom_.lineOpen);
  }
}

// The simulated board has no switch for a boot ROM that falls silent part-way, so these waits are
// timed here: each gives up 5000 ms after the host's last write.
TEST_F(UploadFlasherTest, SilenceAtEachLaterWaitTimesOutAfterFiveSeconds) {
  images_.Write(kFlasherImageFile, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  struct Row {
    std::vector<std::string> answers;
    size_t writes;
  };
  const Row rows[] = {
      {{" BOOTME"}, 2},                                  // header sent, no "  BEGIN"
      {{" BOOTME", "  BEGIN"}, 2 + 256},                 // table sent, no "   DONE"
      {{" BOOTME", "  BEGIN", "   DONE"}, 2 + 256 + 3},  // image sent, no "   DONE"
  };
  for (const Row& row : rows) {
    rom_.onBreak = [&row](ScriptedPort& port) {
      for (size_t i = 0; i < row.answers.size(); ++i)
        port.SendAt(port.clock().NowMs() + 100 * (i + 1), Nul(row.answers[i].c_str()));
    };
    rom_.writes.clear();
    EXPECT_EQ(Upload(), 0);
    ASSERT_EQ(rom_.writes.size(), row.writes);
    // Counted from when the words written last have left the line at 11,520 bytes a second.
    size_t burst = 0;
    for (const auto& write : rom_.writes)
      burst += write.atMs == rom_.writes.back().atMs ? write.bytes.size() : 0;
    const uint64_t lineMs = burst * 1000 / 11520;
    const uint64_t waited = clock_.clock().NowMs() - rom_.writes.back().atMs;
    EXPECT_GE(waited, 5000u + lineMs);
    EXPECT_LE(waited, 5000u + lineMs + 1001);
  }
}

TEST_F(UploadFlasherTest, PortThatCannotBeOpened) {
  images_.Write(kFlasherImageFile, {1, 2, 3, 4});
  rom_.openError = EIO;
  EXPECT_EQ(Upload(), 0);
  EXPECT_EQ(console_, "Could not open SCRIPT1 port: error(5)\nInput/output error.\n");
  EXPECT_TRUE(rom_.breaks.empty());
}

}  // namespace
