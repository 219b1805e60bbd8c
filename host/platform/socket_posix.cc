#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "host/platform/clock.h"
#include "host/platform/socket.h"

namespace {

// Owns one socket.
class SocketHandle {
 public:
  explicit SocketHandle(int fd = -1) : fd_(fd) {}
  ~SocketHandle() {
    if (fd_ >= 0) close(fd_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// 1: ready, 0: time-out, -1: failure (errno set).
int WaitFor(int fd, short events, uint32_t waitMs) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, static_cast<int>(waitMs));
    if (ready < 0 && errno == EINTR) continue;
    return ready < 0 ? -1 : (ready == 0 ? 0 : 1);
  }
}

class PosixTcpConnection : public TcpConnection {
 public:
  explicit PosixTcpConnection(int fd) : fd_(fd) {}

  long Receive(uint8_t* data, size_t capacity, uint32_t waitMs, int* error) override {
    const int ready = WaitFor(fd_.get(), POLLIN, waitMs);
    if (ready < 0) return Failed(errno, error);
    if (ready == 0) return 0;
    const ssize_t got = recv(fd_.get(), data, capacity, 0);
    if (got > 0) return static_cast<long>(got);
    if (got == 0) return Failed(ECONNRESET, error);  // the peer closed
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return Failed(errno, error);
  }

  long Send(const uint8_t* data, size_t length, uint32_t waitMs, int* error) override {
    const int ready = WaitFor(fd_.get(), POLLOUT, waitMs);
    if (ready < 0) return Failed(errno, error);
    if (ready == 0) return 0;
    const ssize_t sent = send(fd_.get(), data, length, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return Failed(errno, error);
  }

 private:
  static long Failed(int code, int* error) {
    *error = code;
    return -1;
  }

  SocketHandle fd_;
};

// Owns the list getaddrinfo gives.
struct AddressList {
  addrinfo* first = nullptr;
  ~AddressList() {
    if (first) freeaddrinfo(first);
  }
};

}  // namespace

std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, const std::string& port, uint32_t timeoutMs,
                                          int* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  AddressList addresses;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses.first) != 0 || !addresses.first) {
    *error = EHOSTUNREACH;
    return nullptr;
  }
  *error = ECONNREFUSED;
  const uint32_t start = SystemClock().TickMs();
  for (addrinfo* address = addresses.first; address; address = address->ai_next) {
    SocketHandle fd(socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol));
    if (fd.get() < 0) {
      *error = errno;
      continue;
    }
    fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    if (connect(fd.get(), address->ai_addr, address->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        *error = errno;
        continue;
      }
      const uint32_t elapsed = SystemClock().TickMs() - start;
      const int ready = WaitFor(fd.get(), POLLOUT, elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
      int status = 0;
      socklen_t size = sizeof status;
      if (ready <= 0) {
        *error = ready == 0 ? ETIMEDOUT : errno;
        continue;
      }
      if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &size) != 0 || status != 0) {
        *error = status ? status : errno;
        continue;
      }
    }
    // Small writes (paced typing) go out at once.
    int on = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    *error = 0;
    return std::unique_ptr<TcpConnection>(new PosixTcpConnection(fd.release()));
  }
  return nullptr;
}

int InvalidAddressError() { return EINVAL; }
int ConnectionResetError() { return ECONNRESET; }
int NotSupportedError() { return ENOTSUP; }
int TimedOutError() { return ETIMEDOUT; }
int BinaryRefusedError() { return EPROTONOSUPPORT; }

std::vector<std::string> ResolveTcpAddresses(const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  AddressList addresses;
  std::vector<std::string> numeric;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses.first) != 0) return numeric;
  for (addrinfo* address = addresses.first; address; address = address->ai_next) {
    char text[NI_MAXHOST];
    if (getnameinfo(address->ai_addr, static_cast<socklen_t>(address->ai_addrlen), text, sizeof text, nullptr,
                    0, NI_NUMERICHOST) != 0) {
      continue;
    }
    if (std::find(numeric.begin(), numeric.end(), text) == numeric.end()) numeric.push_back(text);
  }
  return numeric;
}
