// Serial devices on POSIX: raw termios, exclusive open, poll-based time-outs with the arithmetic of
// the Windows driver, and a user-space receive queue. Linux's tty buffer holds only 4 KiB, so the
// line keeps draining the device while the program sleeps or types slowly (the echo of a whole
// environment typed at the boot loader would otherwise be cut).
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <deque>
#include <utility>

#include "host/platform/clock.h"
#include "host/platform/serial_line_backends.h"
#include "host/platform/serial_line_settings.h"

namespace {

// Beyond this the queue stops taking bytes and the device's own buffer fills instead.
constexpr size_t kQueueLimit = 16u << 20;

// Owns one file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Milliseconds left until deadline on the system tick counter; 0 once it has passed.
uint32_t MsLeft(uint32_t start, uint32_t totalMs) {
  const uint32_t elapsed = SystemClock().TickMs() - start;
  return elapsed >= totalMs ? 0 : totalMs - elapsed;
}

bool BaudConstant(uint32_t baud, speed_t* speed) {
  static const struct {
    uint32_t baud;
    speed_t speed;
  } kSpeeds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
                 {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
                 {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

class PosixSerialLine : public SerialLine, public DrainingLine {
 public:
  explicit PosixSerialLine(FileDescriptor fd) : fd_(std::move(fd)) { InstallDrainPump(this); }

  ~PosixSerialLine() override {
    RemoveDrainPump(this);
    // The exclusive mode stays on the tty until its last close; another holder must not inherit it.
    ioctl(fd_.get(), TIOCNXCL);
  }

  LineSettingsResult ApplySettings(const char* text) override {
    LineSettings settings;
    speed_t speed = B115200;
    if (!ParseLineSettings(text, &settings) || !BaudConstant(settings.baud, &speed)) {
      lastError_ = EINVAL;
      return LineSettingsResult::kBadParameters;
    }
    termios tio{};
    if (tcgetattr(fd_.get(), &tio) != 0) return Failed(LineSettingsResult::kApplyFailed);
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[settings.dataBits - 5] | CLOCAL | CREAD;
    if (settings.parity != 'n') tio.c_cflag |= PARENB;
    if (settings.parity == 'o' || settings.parity == 'm') tio.c_cflag |= PARODD;
    if (settings.parity == 'm' || settings.parity == 's') tio.c_cflag |= CMSPAR;
    if (settings.stopBits != 1) tio.c_cflag |= CSTOPB;
    if (settings.rtsCts) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (settings.xonXoff) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd_.get(), TCSANOW, &tio) != 0) return Failed(LineSettingsResult::kApplyFailed);
    return LineSettingsResult::kApplied;
  }

  bool SetTimeouts(uint32_t readConstantMs, uint32_t writeConstantMs) override {
    readConstantMs_ = readConstantMs;
    writeConstantMs_ = writeConstantMs;
    return true;
  }

  bool Read(uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    const uint32_t start = SystemClock().TickMs();
    const uint32_t totalMs = static_cast<uint32_t>(length) + readConstantMs_;
    for (;;) {
      while (*count < length && !queue_.empty()) {
        data[(*count)++] = queue_.front();
        queue_.pop_front();
      }
      if (*count == length) return true;
      const uint32_t left = MsLeft(start, totalMs);
      if (left == 0) return true;  // the time-out: success with what came
      if (!WaitAndDrain(POLLIN, left)) return false;
    }
  }

  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    const uint32_t start = SystemClock().TickMs();
    const uint32_t totalMs = static_cast<uint32_t>(length) + writeConstantMs_;
    while (*count < length) {
      const ssize_t done = write(fd_.get(), data + *count, length - *count);
      if (done > 0) {
        *count += static_cast<size_t>(done);
        continue;
      }
      if (done < 0 && errno != EAGAIN && errno != EINTR) return Failed(false);
      const uint32_t left = MsLeft(start, totalMs);
      if (left == 0) {
        lastError_ = ETIMEDOUT;  // a write that did not get through is a failure, not a success
        return false;
      }
      if (!WaitAndDrain(POLLOUT, left)) return false;
    }
    return true;
  }

  bool SetBreak(bool on) override {
    if (ioctl(fd_.get(), on ? TIOCSBRK : TIOCCBRK) != 0) return Failed(false);
    return true;
  }

  bool Purge(unsigned flags) override {
    int queueSelector = -1;
    const bool input = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool output = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (input && output) queueSelector = TCIOFLUSH;
    else if (input) queueSelector = TCIFLUSH;
    else if (output) queueSelector = TCOFLUSH;
    if (input) queue_.clear();
    if (queueSelector >= 0 && tcflush(fd_.get(), queueSelector) != 0) return Failed(false);
    return true;
  }

  int LastError() const override { return lastError_; }

  void Drain(uint32_t waitMs) override {
    const uint32_t start = SystemClock().TickMs();
    if (!WaitAndDrain(POLLIN, waitMs)) {
      // A hung-up device answers poll at once; sleep out the rest instead of spinning.
      const uint32_t left = MsLeft(start, waitMs);
      timespec pause{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
      nanosleep(&pause, nullptr);
    }
  }

 private:
  template <typename T>
  T Failed(T result) {
    lastError_ = errno;
    return result;
  }

  // Waits up to waitMs for the device to be readable or for `events`, moving every byte that has
  // arrived into the queue. False on a device failure (a hang-up: the adapter was pulled).
  bool WaitAndDrain(short events, uint32_t waitMs) {
    pollfd entry{fd_.get(), static_cast<short>(events | (queue_.size() < kQueueLimit ? POLLIN : 0)), 0};
    const int ready = poll(&entry, 1, static_cast<int>(waitMs));
    if (ready < 0) return errno == EINTR ? true : Failed(false);
    if (ready == 0) return true;
    size_t got = 0;
    if ((entry.revents & POLLIN) && !ReadAvailable(&got)) return false;
    if (got == 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      lastError_ = EIO;  // hung up: the adapter was pulled or the other end closed
      return false;
    }
    return true;
  }

  // Moves what the device holds into the queue. In raw mode without a minimum count, read() gives
  // 0 rather than EAGAIN when nothing is left.
  bool ReadAvailable(size_t* got) {
    uint8_t chunk[4096];
    while (queue_.size() < kQueueLimit) {
      const ssize_t n = read(fd_.get(), chunk, sizeof chunk);
      if (n > 0) {
        queue_.insert(queue_.end(), chunk, chunk + n);
        *got += static_cast<size_t>(n);
        continue;
      }
      if (n == 0 || errno == EAGAIN || errno == EINTR) return true;
      return Failed(false);
    }
    return true;
  }

  FileDescriptor fd_;
  std::deque<uint8_t> queue_;
  uint32_t readConstantMs_ = 1000;
  uint32_t writeConstantMs_ = 100;
  int lastError_ = 0;
};

}  // namespace

std::unique_ptr<SerialLine> OpenPlatformSerialLine(const std::string& name, int* error) {
  FileDescriptor fd(open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = errno;
    return nullptr;
  }
  if (!isatty(fd.get())) {
    *error = ENOTTY;
    return nullptr;
  }
  // Exclusive, as the Windows share mode 0: TIOCEXCL stops other opens of the tty, and the lock
  // stops programs (and root) that honour it.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? EBUSY : errno;
    return nullptr;
  }
  if (ioctl(fd.get(), TIOCEXCL) != 0) {
    *error = errno;
    return nullptr;
  }
  return std::unique_ptr<SerialLine>(new PosixSerialLine(std::move(fd)));
}
