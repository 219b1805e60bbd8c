// The flasher's image exchange on a scripted line: what goes out in which Write, the console's
// progress, and every way the exchange ends early.
#include "host/link/boot_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/link/boot_image_test_files.h"
#include "host/link/rs232.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

std::string Nul(const char* text) { return std::string(text) + '\0'; }

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A port whose Write fails from the failAt-th call on (counting from 1).
class FailingWritePort : public RS232 {
 public:
  int failAt = 0;
  int calls = 0;
  int Write(const void* data, uint32_t length, uint32_t* written, int reserved) override {
    if (++calls >= failAt) {
      if (written) *written = 0;
      return 0;
    }
    return RS232::Write(data, length, written, reserved);
  }
};

class SendBootImageTest : public ::testing::Test {
 protected:
  SendBootImageTest() : ports_(clock_.clock()), target_(ports_.Add("SCRIPT1")) {}
  void SetUp() override { ASSERT_TRUE(port_.Open("SCRIPT1", kPortSettings)); }

  // The flasher's side of a good exchange, answering in turn.
  void FlasherAnswers(const char* request, const char* headerAnswer, const char* dataAnswer) {
    const uint64_t now = clock_.clock().NowMs();
    if (request) target_.SendAt(now + 50, Nul(request));
    if (headerAnswer) target_.SendAt(now + 100, Nul(headerAnswer));
    if (dataAnswer) target_.SendAt(now + 150, Nul(dataAnswer));
  }

  int Send(const std::vector<uint8_t>& image, RS232* port) {
    images_.Write("ubl_DM6446_NAND.bin", image);
    CaptureStdout();
    const int result = SendBootImage("ubl_DM6446_NAND.bin", 0xA1ACED00, 0x100, 0x20, port);
    console_ = GetCapturedStdout();
    return result;
  }
  int Send(const std::vector<uint8_t>& image) { return Send(image, &port_); }

  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const auto& record : target_.writes) writes.push_back(record.bytes);
    return writes;
  }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_;
  ScriptedPort& target_;
  ImageFolder images_;
  RS232 port_;
  std::string console_;
};

TEST_F(SendBootImageTest, ThreeHundredBytesGoAsTwoBlocksAndTheRest) {
  const auto image = PatternBytes(300, 3);
  FlasherAnswers("SENDIMG", "  BEGIN", "   DONE");
  ASSERT_EQ(Send(image), 1);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 5u);
  EXPECT_EQ(writes[0], Nul("    ACK"));
  EXPECT_EQ(writes[1],
            "A1ACED00000001000000012C00000020"
            "0000");
  EXPECT_EQ(writes[2], Text(image).substr(0, 128));
  EXPECT_EQ(writes[3], Text(image).substr(128, 128));
  EXPECT_EQ(writes[4], Text(image).substr(256));
  EXPECT_EQ(ProgressShown(console_), (std::vector<std::string>{"000", "042", "100"}));
  EXPECT_NE(console_.find("\nFile open: ubl_DM6446_NAND.bin, size: 300\n"
                          "Magic: 0xA1ACED00\nStartAddr: 0x00000100\nDataCount: 0x0000012C\n"
                          "LoadAddr: 0x00000020\n\nTarget:     ACK\n"),
            std::string::npos)
      << console_;
  EXPECT_NE(console_.find("\n\t\t\tUploading Data..\n"), std::string::npos);
}

TEST_F(SendBootImageTest, WholeBlocksLeaveNoRemainderAndShortImagesGoInOnePiece) {
  const auto image = PatternBytes(256, 4);
  FlasherAnswers("SENDIMG", "  BEGIN", "   DONE");
  ASSERT_EQ(Send(image), 1);
  auto writes = Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[2] + writes[3], Text(image));
  EXPECT_EQ(ProgressShown(console_), (std::vector<std::string>{"000", "050", "100"}));

  target_.writes.clear();
  const auto small = PatternBytes(127, 5);
  FlasherAnswers("SENDIMG", "  BEGIN", "   DONE");
  ASSERT_EQ(Send(small), 1);
  writes = Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[2], Text(small));
  EXPECT_EQ(ProgressShown(console_), std::vector<std::string>{"100"});

  // The bar counts to the last byte: 128 of 257 bytes is 128 x 100 / 256 = 50.
  target_.writes.clear();
  FlasherAnswers("SENDIMG", "  BEGIN", "   DONE");
  ASSERT_EQ(Send(PatternBytes(257, 11)), 1);
  EXPECT_EQ(Writes().size(), 5u);
  EXPECT_EQ(ProgressShown(console_), (std::vector<std::string>{"000", "050", "100"}));
}

TEST_F(SendBootImageTest, FailOnTheHeaderSendsNoData) {
  FlasherAnswers("SENDIMG", "   FAIL", nullptr);
  EXPECT_EQ(Send(PatternBytes(300, 7)), 0);
  EXPECT_EQ(Writes(), (std::vector<std::string>{Nul("    ACK"),
                                                "A1ACED00000001000000012C00000020"
                                                "0000"}));
}

TEST_F(SendBootImageTest, FlasherRestartInsteadOfARequestOrAConfirmation) {
  FlasherAnswers("BOOTUBL", nullptr, nullptr);
  EXPECT_EQ(Send(PatternBytes(300, 8)), 0);
  EXPECT_TRUE(Writes().empty());

  FlasherAnswers("SENDIMG", "  BEGIN", "BOOTUBL");
  EXPECT_EQ(Send(PatternBytes(300, 8)), 0);
  EXPECT_EQ(Writes().size(), 5u);  // all the data went, but the flasher did not take it
}

TEST_F(SendBootImageTest, EachSilenceEndsTheWaitAfterTenSeconds) {
  struct Case {
    const char* request;
    const char* headerAnswer;
    size_t writesBeforeSilence;
  };
  for (const Case& c :
       {Case{nullptr, nullptr, 0}, Case{"SENDIMG", nullptr, 2}, Case{"SENDIMG", "  BEGIN", 5}}) {
    target_.writes.clear();
    FlasherAnswers(c.request, c.headerAnswer, nullptr);
    const uint64_t start = clock_.clock().NowMs();
    EXPECT_EQ(Send(PatternBytes(300, 9)), 0);
    EXPECT_EQ(Writes().size(), c.writesBeforeSilence);
    // The wait starts up to 100 virtual ms in (the answers before it) and gives up after
    // 10000 ms, at the grain of a one-second silent read.
    // Counted from when the bytes written last have left the line at 11,520 bytes a second.
    const uint64_t lastWrite = target_.writes.empty() ? start : target_.writes.back().atMs;
    size_t burst = 0;
    for (const auto& write : target_.writes) burst += write.atMs == lastWrite ? write.bytes.size() : 0;
    const uint64_t lineMs = burst * 1000 / 11520;
    const uint64_t waited = clock_.clock().NowMs() - lastWrite;
    EXPECT_GE(waited, 10000u + lineMs);
    EXPECT_LE(waited, 11001u + lineMs);
  }
}

TEST_F(SendBootImageTest, BadFilesAreRefusedBeforeAnyWait) {
  FlasherAnswers("SENDIMG", "  BEGIN", "   DONE");
  const uint64_t start = clock_.clock().NowMs();
  CaptureStdout();
  EXPECT_EQ(SendBootImage("uboot.large.bin", 0x55424CBB, 0x81080000, 0x81080000, &port_), 0);
  EXPECT_EQ(GetCapturedStdout(), "Can't open file uboot.large.bin\n");
  EXPECT_EQ(Send({}), 0);
  EXPECT_EQ(console_, "Error: image file ubl_DM6446_NAND.bin is empty.\n");
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(clock_.clock().NowMs(), start);
}

TEST_F(SendBootImageTest, FailedBlockWriteEndsAtOnce) {
  FailingWritePort failing;
  failing.failAt = 4;  // acknowledge, header, first block, then the second block fails
  ASSERT_TRUE(failing.Open("SCRIPT1", kPortSettings));
  FlasherAnswers("SENDIMG", "  BEGIN", "   DONE");
  EXPECT_EQ(Send(PatternBytes(300, 10), &failing), 0);
  EXPECT_EQ(failing.calls, 4);
  EXPECT_EQ(Writes().size(), 3u);
  EXPECT_EQ(ProgressShown(console_), std::vector<std::string>{"000"});
}

}  // namespace
