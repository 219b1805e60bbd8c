// devsim's serving loop: the board on real time, its line on an RFC 2217 port on 127.0.0.1 (one
// client at a time) and, when asked, on a pseudo-terminal; its Ethernet port on UDP sockets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/board.h"

namespace sim {

struct ServeOptions {
  uint16_t port = 2217;      // 0: any free port
  std::string portFile;      // written with the port number once listening
  bool pty = false;
  std::string statePath;     // saved after each client and at the end
  uint32_t stationIp = 0xC0A86686u;  // the station on the board's network: 192.168.102.134
  uint16_t tftpPort = 0;             // its TFTP server on 127.0.0.1 (0: none)
  std::string jigPath;               // the jig's socket (devsim_jig.h); empty: the board stays on
  // With the board's baud emulation, the host's bytes still reach it at once (the line emulated
  // from the board only).
  bool unpacedInput = false;
};

// Runs until SIGINT or SIGTERM. Returns the process exit status. With a jig, the board is the one
// its first plain "on" puts on, and every new board gets boardOptions.
int Serve(std::unique_ptr<Board> board, const BoardOptions& boardOptions, const ServeOptions& options);

}  // namespace sim
