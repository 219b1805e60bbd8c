// devsim's network: the board's Ethernet port reaches one station, whose address on the board's
// network (192.168.102.134 unless told) stands for 127.0.0.1 here. The board's datagrams to the
// station's port 69 go to a TFTP server listening on a loopback port of the caller's choice (the
// board's client always asks port 69, which needs root); those to any other port P of the station
// go to 127.0.0.1:P, where the server answers from its transfer's own port. Each port of the
// board has a UDP socket of its own, so that the server's answers find the way back.
#pragma once

#include <poll.h>

#include <cstdint>
#include <map>
#include <vector>

#include "sim/board.h"

namespace sim {

constexpr uint32_t kDefaultStationIp = 0xC0A86686u;  // 192.168.102.134

class DevsimNetwork {
 public:
  DevsimNetwork(uint32_t stationIp, uint16_t tftpPort) : stationIp_(stationIp), tftpPort_(tftpPort) {}
  ~DevsimNetwork();
  DevsimNetwork(const DevsimNetwork&) = delete;
  DevsimNetwork& operator=(const DevsimNetwork&) = delete;

  // Sends the datagrams the board has put on the wire; those to other addresses are lost.
  void Send(const std::vector<Datagram>& datagrams);
  // The sockets to watch for answers.
  void AddPollFds(std::vector<pollfd>* fds) const;
  // Reads every answer waiting on the sockets and hands it to the board as arriving at at; with
  // no board (none on the jig, its cable unplugged) they are lost.
  void Receive(Board* board, Micros at);

 private:
  struct BoardPort {
    int fd;
    uint32_t boardIp;
    uint64_t lastUse;
  };
  int SocketFor(uint32_t boardIp, uint16_t boardPort);

  uint32_t stationIp_;
  uint16_t tftpPort_;                      // 0: no server at the station
  std::map<uint16_t, BoardPort> sockets_;  // by the board's port
  uint64_t uses_ = 0;
};

}  // namespace sim
