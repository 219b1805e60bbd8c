#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "host/platform/clock.h"
#include "host/platform/socket.h"

namespace {

// Winsock is started once for the process and stays up until it ends.
bool StartWinsock(int* error) {
  static int startError = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  *error = startError;
  return startError == 0;
}

// Owns one socket.
class SocketHandle {
 public:
  explicit SocketHandle(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
  ~SocketHandle() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  SOCKET get() const { return socket_; }
  SOCKET release() {
    const SOCKET socket = socket_;
    socket_ = INVALID_SOCKET;
    return socket;
  }

 private:
  SOCKET socket_;
};

// 1: ready, 0: time-out, -1: failure (WSAGetLastError tells).
int WaitFor(SOCKET socket, short events, uint32_t waitMs) {
  WSAPOLLFD entry{};
  entry.fd = socket;
  entry.events = events;
  const int ready = WSAPoll(&entry, 1, static_cast<INT>(waitMs));
  if (ready == SOCKET_ERROR) return -1;
  if (ready == 0) return 0;
  // A failed connect shows as an error event, not as writable.
  if ((entry.revents & (POLLERR | POLLHUP)) && !(entry.revents & (POLLRDNORM | POLLWRNORM))) {
    int status = 0;
    int size = sizeof status;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &size);
    WSASetLastError(status ? status : WSAECONNRESET);
    return -1;
  }
  return 1;
}

bool WouldBlock(int code) { return code == WSAEWOULDBLOCK || code == WSAEINTR; }

class Win32TcpConnection : public TcpConnection {
 public:
  explicit Win32TcpConnection(SOCKET socket) : socket_(socket) {}

  long Receive(uint8_t* data, size_t capacity, uint32_t waitMs, int* error) override {
    const int ready = WaitFor(socket_.get(), POLLRDNORM, waitMs);
    if (ready < 0) return Failed(WSAGetLastError(), error);
    if (ready == 0) return 0;
    const int got = recv(socket_.get(), reinterpret_cast<char*>(data), static_cast<int>(capacity), 0);
    if (got > 0) return got;
    if (got == 0) return Failed(WSAECONNRESET, error);  // the peer closed
    const int code = WSAGetLastError();
    return WouldBlock(code) ? 0 : Failed(code, error);
  }

  long Send(const uint8_t* data, size_t length, uint32_t waitMs, int* error) override {
    const int ready = WaitFor(socket_.get(), POLLWRNORM, waitMs);
    if (ready < 0) return Failed(WSAGetLastError(), error);
    if (ready == 0) return 0;
    const int sent = send(socket_.get(), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
    if (sent >= 0) return sent;
    const int code = WSAGetLastError();
    return WouldBlock(code) ? 0 : Failed(code, error);
  }

 private:
  static long Failed(int code, int* error) {
    *error = code;
    return -1;
  }

  SocketHandle socket_;
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
  if (!StartWinsock(error)) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  AddressList addresses;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses.first) != 0 || !addresses.first) {
    *error = WSAHOST_NOT_FOUND;
    return nullptr;
  }
  *error = WSAECONNREFUSED;
  const uint32_t start = SystemClock().TickMs();
  for (addrinfo* address = addresses.first; address; address = address->ai_next) {
    SocketHandle socket(::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
    if (socket.get() == INVALID_SOCKET) {
      *error = WSAGetLastError();
      continue;
    }
    u_long nonBlocking = 1;
    ioctlsocket(socket.get(), FIONBIO, &nonBlocking);
    if (connect(socket.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        *error = code;
        continue;
      }
      const uint32_t elapsed = SystemClock().TickMs() - start;
      const int ready = WaitFor(socket.get(), POLLWRNORM, elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
      if (ready <= 0) {
        *error = ready == 0 ? WSAETIMEDOUT : WSAGetLastError();
        continue;
      }
    }
    // Small writes (paced typing) go out at once.
    BOOL on = TRUE;
    setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    *error = 0;
    return std::unique_ptr<TcpConnection>(new Win32TcpConnection(socket.release()));
  }
  return nullptr;
}

int InvalidAddressError() { return WSAEINVAL; }
int ConnectionResetError() { return WSAECONNRESET; }
int NotSupportedError() { return ERROR_NOT_SUPPORTED; }
int TimedOutError() { return WSAETIMEDOUT; }
int BinaryRefusedError() { return WSAEPROTONOSUPPORT; }

std::vector<std::string> ResolveTcpAddresses(const std::string& host, const std::string& port) {
  int error = 0;
  if (!StartWinsock(&error)) return {};
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
