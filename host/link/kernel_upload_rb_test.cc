// The YModem sender against an independent receiver: lrzsz's rb behind a line that plays U-Boot's
// loady console lines. rb, like standard YModem receivers, sends a C right after acknowledging
// the header and another after acknowledging the EOT (asking for the next file); the board's
// loady sends C only to start, so the line drops exactly those two and nothing else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/kernel_upload.h"
#include "host/link/rs232.h"
#include "host/platform/clock.h"
#include "host/platform/serial_line.h"
#include "host/testing/kernel_upload_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kRbPath[] = "/usr/bin/rb";

// Counts of what the line saw, kept by the test after the line is gone.
struct RbLineReport {
  int headerAcks = 0;
  int droppedCs = 0;
  int eotsFromHost = 0;
  bool eotAcknowledged = false;
};

class RbLine : public SerialLine {
 public:
  RbLine(const fs::path& directory, RbLineReport* report) : report_(report) {
    int toRb[2];
    int fromRb[2];
    if (pipe(toRb) != 0 || pipe(fromRb) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toRb[0], 0);
      dup2(fromRb[1], 1);
      int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 2);
      for (int fd : {toRb[0], toRb[1], fromRb[0], fromRb[1], devNull}) close(fd);
      if (chdir(directory.c_str()) != 0) _exit(126);
      execl(kRbPath, "rb", "-y", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toRb[0]);
    close(fromRb[1]);
    toRb_ = toRb[1];
    fromRb_ = fromRb[0];
  }
  ~RbLine() override {
    // rb asks for the next file after acknowledging the EOT; the host has closed the line by then,
    // so collect that C here to count it.
    while (dropNextC_ && report_->eotAcknowledged) {
      pollfd p{fromRb_, POLLIN, 0};
      uint8_t byte = 0;
      if (poll(&p, 1, 3000) <= 0 || read(fromRb_, &byte, 1) != 1) break;
      FromRb(byte);
    }
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (toRb_ >= 0) close(toRb_);
    if (fromRb_ >= 0) close(fromRb_);
  }

  LineSettingsResult ApplySettings(const char*) override { return LineSettingsResult::kApplied; }
  bool SetTimeouts(uint32_t readConstantMs, uint32_t) override {
    readConstantMs_ = readConstantMs;
    return true;
  }
  bool SetBreak(bool) override { return true; }
  bool Purge(unsigned flags) override {
    if (flags & kPurgeRxClear) toHost_.clear();
    return true;
  }
  int LastError() const override { return 0; }

  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    *count = length;
    if (!transferring_) {
      std::vector<std::string> lines;
      Tell(prompt_.Type(data, length, &lines));
      if (!lines.empty() && lines.back() == "loady") {
        transferring_ = true;
        Tell("## Ready for binary (ymodem) download to 0x80700000 at 115200 bps...\r\n");
      }
      return true;
    }
    if (length == 1 && data[0] == 0x04) ++report_->eotsFromHost;
    size_t done = 0;
    while (done < length) {
      ssize_t n = write(toRb_, data + done, length - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  bool Read(uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    uint32_t start = HostClock().TickMs();
    uint32_t limit = readConstantMs_ + static_cast<uint32_t>(length);
    while (*count < length) {
      if (!toHost_.empty()) {
        data[(*count)++] = toHost_.front();
        toHost_.pop_front();
        continue;
      }
      uint32_t elapsed = HostClock().TickMs() - start;
      if (elapsed >= limit) break;
      pollfd p{fromRb_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(limit - elapsed)) <= 0) continue;
      uint8_t chunk[256];
      ssize_t n = read(fromRb_, chunk, sizeof chunk);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) FromRb(chunk[i]);
    }
    return true;
  }

 private:
  void Tell(const std::string& text) { toHost_.insert(toHost_.end(), text.begin(), text.end()); }

  void FromRb(uint8_t byte) {
    if (dropNextC_ && byte == 'C') {
      dropNextC_ = false;
      ++report_->droppedCs;
      return;
    }
    dropNextC_ = false;
    toHost_.push_back(byte);
    if (byte != 0x06) return;
    if (report_->headerAcks == 0) {
      ++report_->headerAcks;
      dropNextC_ = true;
    } else if (report_->eotsFromHost > 0 && !report_->eotAcknowledged) {
      report_->eotAcknowledged = true;
      dropNextC_ = true;
      Tell("## Total Size      = 0x" + Hex(totalSize_) + " = " + std::to_string(totalSize_) + " Bytes\r\n");
    }
  }
  static std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
  }

  RbLineReport* report_;
  pid_t pid_ = -1;
  int toRb_ = -1;
  int fromRb_ = -1;
  uint32_t readConstantMs_ = 1000;
  bool transferring_ = false;
  bool dropNextC_ = false;
  uint32_t totalSize_ = 0;
  kernel_upload_test::PromptEcho prompt_;  // U-Boot at its prompt, until loady
  std::deque<uint8_t> toHost_;
};

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 2463534242u;
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class KernelUploadWithRb : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kRbPath, X_OK) != 0) GTEST_SKIP() << "lrzsz's rb is not installed";
    char pattern[] = "/tmp/kernel-upload-rb-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "host");
    fs::create_directories(root_ / "board");
    savedCwd_ = fs::current_path();
    fs::current_path(root_ / "host");
    RegisterSerialLineOpener("RBPEER", [this](const std::string&, int*) {
      return std::unique_ptr<SerialLine>(new RbLine(root_ / "board", &report_));
    });
    savedConsole_ = std::cout.rdbuf(console_.rdbuf());
  }
  void TearDown() override {
    if (root_.empty()) return;
    std::cout.rdbuf(savedConsole_);
    UnregisterSerialLineOpener("RBPEER");
    fs::current_path(savedCwd_);
    fs::remove_all(root_);
  }

  void WriteKernel(const std::vector<uint8_t>& bytes) {
    std::ofstream out(root_ / "host" / "uImage", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> Received() { return ReadAll(root_ / "board" / "uImage"); }

  fs::path root_;
  fs::path savedCwd_;
  RbLineReport report_;
  std::ostringstream console_;
  std::streambuf* savedConsole_ = nullptr;
};

TEST_F(KernelUploadWithRb, ReceivedFileEqualsKernelForEverySize) {
  for (size_t size : {size_t{1}, size_t{1024}, size_t{1025}, size_t{2048}, size_t{300 * 1024 + 77}}) {
    SCOPED_TRACE("size " + std::to_string(size));
    report_ = RbLineReport();
    fs::remove(root_ / "board" / "uImage");
    std::vector<uint8_t> kernel = Pattern(size);
    WriteKernel(kernel);
    ASSERT_EQ(UploadKernel("RBPEER"), 1) << console_.str();
    EXPECT_TRUE(Received() == kernel);
    EXPECT_EQ(report_.headerAcks, 1);
    EXPECT_EQ(report_.eotsFromHost, 1);
    EXPECT_TRUE(report_.eotAcknowledged);
    EXPECT_EQ(report_.droppedCs, 2);
  }
  EXPECT_NE(console_.str().find("File open: uImage, size: 307277\n"), std::string::npos);
  EXPECT_NE(console_.str().find("\t 100% ["), std::string::npos);
}

TEST_F(KernelUploadWithRb, EmptyKernelIsHeaderThenEot) {
  WriteKernel({});
  ASSERT_EQ(UploadKernel("RBPEER"), 1) << console_.str();
  EXPECT_TRUE(fs::exists(root_ / "board" / "uImage"));
  EXPECT_EQ(fs::file_size(root_ / "board" / "uImage"), 0u);
  EXPECT_EQ(report_.eotsFromHost, 1);
  // No data block, so the only bar drawn is the final 100.
  EXPECT_EQ(console_.str().find("% ["), console_.str().find("\t 100% [") + 5);
  EXPECT_EQ(report_.droppedCs, 2);
}

// A read error of the file other than its end must not send a block of stale bytes: the upload
// stops with a message and an EOT.
struct FailingFile {
  std::vector<uint8_t> bytes;
  size_t position = 0;
  size_t failAt = 0;
};

ssize_t ReadFailing(void* cookie, char* buffer, size_t size) {
  FailingFile* file = static_cast<FailingFile*>(cookie);
  if (file->position >= file->failAt) {
    errno = EIO;
    return -1;
  }
  size_t n = std::min(size, file->failAt - file->position);
  std::memcpy(buffer, file->bytes.data() + file->position, n);
  file->position += n;
  return static_cast<ssize_t>(n);
}

TEST_F(KernelUploadWithRb, ReadErrorStopsWithEot) {
  FailingFile source{Pattern(5000), 0, 2048};
  cookie_io_functions_t io{ReadFailing, nullptr, nullptr, nullptr};
  std::FILE* file = fopencookie(&source, "rb", io);
  ASSERT_NE(file, nullptr);
  setvbuf(file, nullptr, _IONBF, 0);
  RS232 port;
  ASSERT_EQ(port.Open("RBPEER", kPortSettings), 1);
  EXPECT_EQ(SendFileToLoady(&port, file, "uImage", 5000), 0);
  port.Close();
  std::fclose(file);
  EXPECT_NE(console_.str().find("\nError: cannot read uImage.\n"), std::string::npos) << console_.str();
  EXPECT_EQ(report_.eotsFromHost, 1);
  // rb took the two good blocks and nothing more.
  std::vector<uint8_t> received = Received();
  EXPECT_LE(received.size(), 2048u);
}

}  // namespace
