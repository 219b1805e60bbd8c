#include "sim/devsim_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sim {

namespace {
constexpr uint16_t kTftpPort = 69;
constexpr size_t kMaxSockets = 16;  // the board uses a new port per transfer; old ones are closed
}  // namespace

DevsimNetwork::~DevsimNetwork() {
  for (const auto& [port, socket] : sockets_) close(socket.fd);
}

int DevsimNetwork::SocketFor(uint32_t boardIp, uint16_t boardPort) {
  auto found = sockets_.find(boardPort);
  if (found != sockets_.end()) {
    found->second.boardIp = boardIp;
    found->second.lastUse = ++uses_;
    return found->second.fd;
  }
  if (sockets_.size() >= kMaxSockets) {
    auto oldest = sockets_.begin();
    for (auto it = sockets_.begin(); it != sockets_.end(); ++it)
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    close(oldest->second.fd);
    sockets_.erase(oldest);
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  sockets_[boardPort] = BoardPort{fd, boardIp, ++uses_};
  return fd;
}

void DevsimNetwork::Send(const std::vector<Datagram>& datagrams) {
  for (const Datagram& d : datagrams) {
    if (d.destinationIp != stationIp_) continue;  // no such host on the board's network
    const uint16_t port = d.destinationPort == kTftpPort ? tftpPort_ : d.destinationPort;
    if (port == 0) continue;
    const int fd = SocketFor(d.sourceIp, d.sourcePort);
    if (fd < 0) continue;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A lost datagram is the network's right: the board's client times out and sends again.
    (void)sendto(fd, d.payload.data(), d.payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
}

void DevsimNetwork::AddPollFds(std::vector<pollfd>* fds) const {
  for (const auto& [port, socket] : sockets_) fds->push_back({socket.fd, POLLIN, 0});
}

void DevsimNetwork::Receive(Board* board, Micros at) {
  uint8_t buffer[65536];
  for (const auto& [boardPort, socket] : sockets_) {
    for (;;) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n = recvfrom(socket.fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) break;  // nothing more (or an ICMP error for a port nobody listens on)
      if (from.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) continue;
      const uint16_t port = ntohs(from.sin_port);
      Datagram d;
      d.sourceIp = stationIp_;
      d.sourcePort = port == tftpPort_ ? kTftpPort : port;
      d.destinationIp = socket.boardIp;
      d.destinationPort = boardPort;
      d.payload.assign(buffer, buffer + n);
      if (board) board->ReceiveDatagram(std::move(d), at);
    }
  }
}

}  // namespace sim
