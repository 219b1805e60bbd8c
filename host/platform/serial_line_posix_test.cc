// The POSIX line over a pseudo-terminal pair: the test holds the master side as the target.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "host/platform/clock.h"
#include "host/platform/serial_line.h"

namespace {

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
    // The test keeps the slave open too, so that the master never sees a hang-up between opens.
  }
  void TearDown() override {
    close(master_);
    close(slave_);
  }
  std::unique_ptr<SerialLine> Open() {
    int error = 0;
    auto line = OpenSerialLine(path_, &error);
    EXPECT_TRUE(line) << "error " << error;
    if (line) {
      EXPECT_EQ(line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off"), LineSettingsResult::kApplied);
      EXPECT_TRUE(line->SetTimeouts(1000, 100));
    }
    return line;
  }
  std::string ReadMaster(size_t length) {
    std::string got;
    while (got.size() < length) {
      pollfd entry{master_, POLLIN, 0};
      if (poll(&entry, 1, 2000) <= 0) break;
      char chunk[4096];
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, length - got.size()));
      if (n <= 0) break;
      got.append(chunk, static_cast<size_t>(n));
    }
    return got;
  }
  void WriteMaster(const std::string& text) {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

TEST_F(PtyTest, RawEightNoneOneWithoutFlowControl) {
  auto line = Open();
  ASSERT_TRUE(line);
  termios tio{};
  ASSERT_EQ(tcgetattr(slave_, &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);

  EXPECT_EQ(line->ApplySettings("baud=fast"), LineSettingsResult::kBadParameters);
  EXPECT_EQ(line->ApplySettings("baud=115200 data=7 parity=e stop=2 xon=on"), LineSettingsResult::kApplied);
  ASSERT_EQ(tcgetattr(slave_, &tio), 0);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);  // a pty keeps 8 data bits without parity whatever it is told
  EXPECT_NE(tio.c_iflag & IXON, 0u);
}

TEST_F(PtyTest, OpenIsExclusiveAndReleasedOnClose) {
  auto line = Open();
  ASSERT_TRUE(line);
  int error = 0;
  EXPECT_FALSE(OpenSerialLine(path_, &error));
  EXPECT_EQ(error, EBUSY);
  line.reset();
  EXPECT_TRUE(OpenSerialLine(path_, &error));

  EXPECT_FALSE(OpenSerialLine("/dev/does-not-exist", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(OpenSerialLine("/dev/null", &error));
  EXPECT_EQ(error, ENOTTY);
}

TEST_F(PtyTest, BytesBothWaysAndTheSilentReadTimeout) {
  auto line = Open();
  ASSERT_TRUE(line);
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  size_t count = 0;
  ASSERT_TRUE(line->Write(reinterpret_cast<const uint8_t*>(all.data()), all.size(), &count));
  EXPECT_EQ(count, 256u);
  EXPECT_EQ(ReadMaster(256), all);

  WriteMaster(all);
  std::vector<uint8_t> got(256);
  ASSERT_TRUE(line->Read(got.data(), got.size(), &count)) << line->LastError();
  EXPECT_EQ(count, 256u);
  EXPECT_EQ(std::string(got.begin(), got.end()), all);

  uint8_t byte = 0;
  const uint32_t start = SystemClock().TickMs();
  ASSERT_TRUE(line->Read(&byte, 1, &count));
  const uint32_t took = SystemClock().TickMs() - start;
  EXPECT_EQ(count, 0u);
  EXPECT_GE(took, 1000u);
  EXPECT_LT(took, 1200u);

  EXPECT_TRUE(line->SetBreak(true));
  EXPECT_TRUE(line->SetBreak(false));
}

TEST_F(PtyTest, PurgeDropsWhatHasArrived) {
  auto line = Open();
  ASSERT_TRUE(line);
  WriteMaster("stale output");
  SystemClock().SleepMs(50);  // drained into the queue meanwhile
  WriteMaster("more stale");
  usleep(20000);
  EXPECT_TRUE(line->Purge(kPurgeRxAbort | kPurgeRxClear));
  WriteMaster(" BOOTME");
  std::vector<uint8_t> got(7);
  size_t count = 0;
  ASSERT_TRUE(line->Read(got.data(), got.size(), &count));
  EXPECT_EQ(std::string(got.begin(), got.begin() + static_cast<long>(count)), " BOOTME");
}

TEST_F(PtyTest, KeepsDrainingWhileTheProgramSleeps) {
  auto line = Open();
  ASSERT_TRUE(line);
  // Far more than the kernel holds: the writer finishes only if the line drains during the sleep.
  std::string echo;
  for (int i = 0; echo.size() < 256 * 1024; ++i) echo += "setenv bootargs console=ttyS0 " + std::to_string(i) + "\r\n";
  std::atomic<bool> done{false};
  std::thread target([&] {
    size_t sent = 0;
    while (sent < echo.size()) {
      const ssize_t n = write(master_, echo.data() + sent, std::min<size_t>(1024, echo.size() - sent));
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    done = true;
  });
  SystemClock().SleepMs(1500);
  const bool finishedDuringSleep = done;
  std::vector<uint8_t> got(echo.size());
  size_t count = 0;
  const bool ok = line->Read(got.data(), got.size(), &count);
  target.join();
  EXPECT_TRUE(finishedDuringSleep);
  ASSERT_TRUE(ok);
  ASSERT_EQ(count, echo.size());
  EXPECT_TRUE(std::string(got.begin(), got.end()) == echo);
}

TEST_F(PtyTest, HangUpMakesReadsFail) {
  auto line = Open();
  ASSERT_TRUE(line);
  close(master_);
  master_ = open("/dev/null", O_RDONLY);  // keeps TearDown simple
  uint8_t byte = 0;
  size_t count = 0;
  EXPECT_FALSE(line->Read(&byte, 1, &count));
  EXPECT_EQ(line->LastError(), EIO);
}

}  // namespace
