#include "host/link/kernel_upload.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/testing/kernel_upload_support.h"
#include "host/testing/simulated_target.h"
#include "host/testing/virtual_clock.h"
#include "sim/crc.h"
#include "sim/uboot_memory.h"

namespace {

namespace fs = std::filesystem;
using kernel_upload_test::InstallBootLoaders;
using kernel_upload_test::LineRecord;
using kernel_upload_test::RecordedPort;
using kernel_upload_test::StopAtPrompt;

constexpr size_t kBlock = 1029;
constexpr char kLoady[] = "loady\r";

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// The progress values drawn, in order.
std::vector<unsigned> Percents(const std::string& shown) {
  std::vector<unsigned> percents;
  for (size_t at = shown.find("\t "); at != std::string::npos; at = shown.find("\t ", at + 1)) {
    if (shown.compare(at + 5, 3, "% [") == 0)
      percents.push_back(static_cast<unsigned>(std::stoul(shown.substr(at + 2, 3))));
  }
  return percents;
}

size_t CountEots(const std::string& written) {
  // After loady, whole blocks go out in single writes; an EOT is a write of its own.
  return static_cast<size_t>(std::count(written.begin(), written.end(), '\x04'));
}

class KernelUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kernel-upload-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    savedCwd_ = fs::current_path();
    fs::current_path(dir_);
    saved_ = std::cout.rdbuf(console_.rdbuf());
  }
  void TearDown() override {
    std::cout.rdbuf(saved_);
    fs::current_path(savedCwd_);
    fs::remove_all(dir_);
  }

  void WriteKernel(const std::vector<uint8_t>& bytes) {
    std::ofstream out(dir_ / "uImage", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  // A board with its boot loaders, stopped at the U-Boot prompt as the environment step leaves it.
  void BringToPrompt(SimulatedTarget& target) {
    InstallBootLoaders(target.state());
    ASSERT_TRUE(StopAtPrompt(target.portName()));
    console_.str("");
  }

  // What the host sent after loady: data of the blocks in order, the EOT bytes counted.
  std::string AfterLoady(const LineRecord& record) {
    std::string written = record.Written();
    size_t at = written.find(kLoady);
    EXPECT_NE(at, std::string::npos);
    return at == std::string::npos ? "" : written.substr(at + sizeof kLoady - 1);
  }

  fs::path dir_;
  fs::path savedCwd_;
  std::ostringstream console_;
  std::streambuf* saved_ = nullptr;
};

TEST_F(KernelUploadTest, EverySizeArrivesWhole) {
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{1024}, size_t{1025}, size_t{2048}, size_t{300 * 1024 + 5}}) {
    SCOPED_TRACE("size " + std::to_string(size));
    SimulatedTarget target;
    BringToPrompt(target);
    std::vector<uint8_t> kernel = Pattern(size, static_cast<uint32_t>(size));
    WriteKernel(kernel);
    RecordedPort port;
    ASSERT_EQ(UploadKernel(port.name()), 1) << console_.str();

    EXPECT_EQ(target.state().lastLoadSize, size);
    EXPECT_TRUE(sim::ReadRam(target.state().ram, sim::kRamLoadAddress, static_cast<uint32_t>(size)) ==
                kernel);
    EXPECT_NE(console_.str().find("\nFile open: uImage, size: " + std::to_string(size) + "\n"),
              std::string::npos);

    // Header, ceil(size / 1024) data blocks numbered 1, 2, ... 255, 0, 1 ..., one EOT.
    const std::string sent = AfterLoady(port.record);
    const size_t blocks = (size + 1023) / 1024;
    ASSERT_EQ(sent.size(), (blocks + 1) * kBlock + 1);
    EXPECT_EQ(sent.back(), '\x04');
    for (size_t i = 0; i <= blocks; ++i) {
      ASSERT_EQ(static_cast<uint8_t>(sent[i * kBlock + 1]), static_cast<uint8_t>(i)) << "block " << i;
      ASSERT_EQ(static_cast<uint8_t>(sent[i * kBlock + 2]), static_cast<uint8_t>(255 - i)) << "block " << i;
    }
    if (blocks > 0) {  // the last block: file bytes, then 0x1A to its end
      const size_t last = blocks * kBlock + 3, inLast = size - (blocks - 1) * 1024;
      EXPECT_EQ(sent.substr(last + inLast, 1024 - inLast), std::string(1024 - inLast, '\x1A'));
    }

    // The bar is redrawn when its number changes, never twice with the same one.
    std::vector<unsigned> percents = Percents(console_.str());
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.size(), std::min<size_t>(blocks + 1, 101u));
    EXPECT_TRUE(std::adjacent_find(percents.begin(), percents.end(), std::greater_equal<unsigned>()) ==
                percents.end());
    EXPECT_EQ(percents.front(), blocks ? 0u : 100u);
    EXPECT_EQ(percents.back(), 100u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  }
}

// A loady that answers at once, for a transfer too long for the simulated board's pace: it checks
// every block's number, complement and payload against the file, and the CRC (with the board's own
// bit-wise CRC-16, too slow for every one of 45,000 blocks) on every eighth block and the last.
class InstantLoadyLine : public SerialLine {
 public:
  LineSettingsResult ApplySettings(const char*) override { return LineSettingsResult::kApplied; }
  bool SetTimeouts(uint32_t, uint32_t) override { return true; }
  bool SetBreak(bool) override { return true; }
  bool Purge(unsigned) override { return true; }
  int LastError() const override { return 0; }
  bool Read(uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    while (*count < length && at_ < reply_.size()) data[(*count)++] = static_cast<uint8_t>(reply_[at_++]);
    if (*count == 0) HostClock().SleepMs(1001);
    return true;
  }
  explicit InstantLoadyLine(const std::vector<uint8_t>& file) : file_(file) {}
  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    *count = length;
    std::string bytes(reinterpret_cast<const char*>(data), length);
    if (blocks == 0 && !ready_) {
      std::vector<std::string> lines;
      Say(prompt_.Type(data, length, &lines));
      ready_ = !lines.empty() && lines.back() == "loady";
      if (ready_) Say("## Ready for binary (ymodem) download to 0x80700000 at 115200 bps...\nC");
      return true;
    }
    if (bytes == "\x04") return Say("\x06## Total Size      = " + std::to_string(received) + " Bytes\n");
    bool good = length == kBlock && data[0] == 0x02 && data[1] == static_cast<uint8_t>(blocks) &&
                data[2] == static_cast<uint8_t>(255 - blocks);
    if (good && blocks > 0) {
      size_t offset = (blocks - 1) * 1024, n = std::min<size_t>(1024, file_.size() - offset);
      good = std::equal(file_.begin() + offset, file_.begin() + offset + n, data + 3);
    }
    bool last = blocks > 0 && blocks * 1024 >= file_.size();
    if (good && (blocks % 8 == 0 || last))
      good = sim::Crc16Xmodem(data + 3, 1024) == (data[1027] << 8 | data[1028]);
    if (!good) return Say("\x15");
    if (blocks++ > 0) received += 1024;
    return Say("\x06");
  }
  bool Say(const std::string& text) {
    reply_ += text;
    return true;
  }
  size_t blocks = 0;
  uint64_t received = 0;

 private:
  const std::vector<uint8_t>& file_;
  kernel_upload_test::PromptEcho prompt_;
  bool ready_ = false;
  std::string reply_;
  size_t at_ = 0;
};

TEST_F(KernelUploadTest, ProgressStaysTrueAboveFortyTwoMegabytes) {
  ScopedVirtualClock clock;
  const size_t size = 44u << 20;  // 45,056 blocks: a 32-bit numerator wraps after block 41,943
  const std::vector<uint8_t> kernel = Pattern(size, 3);
  WriteKernel(kernel);
  RegisterSerialLineOpener("INSTANT", [&kernel](const std::string&, int*) {
    return std::unique_ptr<SerialLine>(new InstantLoadyLine(kernel));
  });
  int result = UploadKernel("INSTANT1");
  UnregisterSerialLineOpener("INSTANT");
  ASSERT_EQ(result, 1) << console_.str().substr(0, 2000);
  // Every percent once, in order: a numerator that wrapped would show a small number again.
  std::vector<unsigned> percents = Percents(console_.str());
  std::vector<unsigned> expected(101);
  for (unsigned i = 0; i <= 100; ++i) expected[i] = i;
  EXPECT_EQ(percents, expected);
}

TEST_F(KernelUploadTest, NakEndsTheUploadWithOneEot) {
  for (int nakBlock : {0, 2}) {
    SCOPED_TRACE("NAK for block " + std::to_string(nakBlock));
    sim::BoardOptions options;
    options.faults.nakBlock = nakBlock;
    SimulatedTarget target(options);
    BringToPrompt(target);
    WriteKernel(Pattern(5000, 1));
    RecordedPort port;
    EXPECT_EQ(UploadKernel(port.name()), 0);
    EXPECT_NE(console_.str().find("\nNAK received, CRC16 error.\n"), std::string::npos) << console_.str();
    const std::string sent = AfterLoady(port.record);
    EXPECT_EQ(sent.size(), (nakBlock + 1) * kBlock + 1) << "no block is sent twice";
    EXPECT_EQ(sent.back(), '\x04');
    console_.str("");
  }
}

TEST_F(KernelUploadTest, MissingAckEndsFiveSecondsAfterTheBlock) {
  sim::BoardOptions options;
  options.faults.noAckBlock = 3;
  SimulatedTarget target(options);
  BringToPrompt(target);
  WriteKernel(Pattern(10000, 2));
  RecordedPort port;
  EXPECT_EQ(UploadKernel(port.name()), 0);
  const auto& writes = port.record.writes;
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes.back().bytes, "\x04");
  EXPECT_EQ(writes[writes.size() - 2].bytes.size(), kBlock);
  EXPECT_EQ(static_cast<uint8_t>(writes[writes.size() - 2].bytes[1]), 3);
  // Counted from when the block has left the line (1029 bytes: 89 ms at 115200 baud).
  uint32_t waited = writes.back().atMs - writes[writes.size() - 2].atMs;
  EXPECT_GE(waited, 5000u + 89);
  EXPECT_LE(waited, 6001u + 89);
  EXPECT_NE(console_.str().find("\nReceived: 0x00, expected: 0x6\n"), std::string::npos) << console_.str();
  EXPECT_EQ(CountEots(AfterLoady(port.record).substr(4 * kBlock)), 1u);
}

TEST_F(KernelUploadTest, MissingAckOfTheEotSendsItOnceMore) {
  sim::BoardOptions options;
  options.faults.noAckBlock = -2;
  SimulatedTarget target(options);
  BringToPrompt(target);
  WriteKernel(Pattern(3000, 4));
  RecordedPort port;
  EXPECT_EQ(UploadKernel(port.name()), 0);
  const auto& writes = port.record.writes;
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[writes.size() - 2].bytes, "\x04");
  EXPECT_EQ(writes.back().bytes, "\x04");
  // The simulated board takes the last block at once, but the host counts its 89 ms of line time.
  uint32_t waited = writes.back().atMs - writes[writes.size() - 2].atMs;
  EXPECT_GE(waited, 5000u);
  EXPECT_LE(waited, 6001u + 89);
}

TEST_F(KernelUploadTest, CWhereAnAckIsDue) {
  sim::BoardOptions options;
  options.faults.cForAck = true;
  SimulatedTarget target(options);
  BringToPrompt(target);
  WriteKernel(Pattern(3000, 5));
  RecordedPort port;
  EXPECT_EQ(UploadKernel(port.name()), 0);
  EXPECT_NE(console_.str().find("\nReceived: 0x43, expected: 0x6\n"), std::string::npos) << console_.str();
  EXPECT_EQ(AfterLoady(port.record), std::string(AfterLoady(port.record).substr(0, kBlock)) + "\x04");
  EXPECT_EQ(AfterLoady(port.record).size(), kBlock + 1);
}

TEST_F(KernelUploadTest, NoTotalSizeFailsTenSecondsAfterTheEot) {
  sim::BoardOptions options;
  options.faults.noTotalSize = true;
  SimulatedTarget target(options);
  BringToPrompt(target);
  // The simulated board takes the blocks faster than 115200 baud would carry them (as a network
  // port server or an unpaced devsim does): its ACKs, not the line's rate, say they arrived.
  WriteKernel(Pattern(300000, 6));
  RecordedPort port;
  EXPECT_EQ(UploadKernel(port.name()), 0);
  const auto& writes = port.record.writes;
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[writes.size() - 2].bytes, "\x04");
  EXPECT_EQ(writes.back().bytes, "\x04");
  uint32_t waited = writes.back().atMs - writes[writes.size() - 2].atMs;
  EXPECT_GE(waited, 10000u);
  EXPECT_LE(waited, 11001u + 89);  // as above: the last block's line time may still be counted
  EXPECT_EQ(target.state().lastLoadSize, 300000u) << "the board got the file; only the report is missing";
}

TEST_F(KernelUploadTest, FirstCLostToThePurgeAndNoRepeatFailsWithoutEot) {
  sim::BoardOptions options;
  options.faults.noAnnounceRepeat = true;
  SimulatedTarget target(options);
  BringToPrompt(target);
  WriteKernel(Pattern(3000, 7));
  RecordedPort port;
  EXPECT_EQ(UploadKernel(port.name()), 0);
  EXPECT_EQ(port.record.Written(), "\x03" + std::string(kLoady)) << "neither a block nor an EOT";
  uint32_t ready = port.record.TimeRead("## Ready for binary (ymodem) download");
  ASSERT_NE(ready, 0u);
  uint64_t waited = target.NowMs() - ready;
  EXPECT_GE(waited, 10000u);
  EXPECT_LE(waited, 11001u);
  EXPECT_NE(console_.str().find("\nReceived: 0x00, expected: 0x43\n"), std::string::npos) << console_.str();
}

// In its boot ROM the board announces " BOOTME" and never prints U-Boot's prompt: loady is never
// typed, and the step fails once the Ctrl-C that clears U-Boot's line brought no prompt in 5 s.
TEST_F(KernelUploadTest, BoardNotAtTheBootLoaderFailsAfterFiveSeconds) {
  SimulatedTarget target;
  WriteKernel(Pattern(3000, 8));
  RecordedPort port;
  uint64_t start = target.NowMs();
  EXPECT_EQ(UploadKernel(port.name()), 0);
  EXPECT_EQ(port.record.Written(), "\x03");
  EXPECT_GE(target.NowMs() - start, 5000u);
  EXPECT_LE(target.NowMs() - start, 6001u);
  EXPECT_NE(console_.str().find("Echo check: no U-Boot prompt came after Ctrl-C."), std::string::npos);
}

TEST_F(KernelUploadTest, MissingFileOpensNoPort) {
  SimulatedTarget target;
  EXPECT_EQ(UploadKernel(target.portName()), 0);
  EXPECT_EQ(console_.str(), "Can't open file uImage\n");
  EXPECT_EQ(target.OpenCount(), 0);
}

}  // namespace
