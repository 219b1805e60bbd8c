// The simulated DM6446 board as its serial line sees it. Two drivers use it: the host tests (on
// their virtual clock) and devsim (real time). Times are the line's clock in microseconds and never
// go backwards; the board runs its firmware only as far as the driver asks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/firmware.h"

namespace sim {

struct BoardOptions {
  uint32_t baud = 115200;
  bool baudEmulation = false;  // transmit at 10 bits a byte at the baud rate
  double speed = 1.0;          // device delays are divided by this (0: no device delays)
  Faults faults;
  Login login;
  // How long U-Boot waits for each answer of the TFTP server before it asks again. U-Boot 1.2 waits
  // 5 s; newer ones take it from their environment (tftptimeout).
  uint32_t tftpTimeoutMs = 5000;
};

class Board {
 public:
  explicit Board(const BoardOptions& options);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Line settings the host applied; anything but 115200 8N1 turns what the board receives and
  // sends into garbage, as on a real line.
  void SetLineSettings(uint32_t baud, int dataBits, char parity, int stopBits);

  // The host's side of the line.
  void ReceiveByte(uint8_t byte, Micros at);
  // Bytes that all arrived at time at, as that many ReceiveByte calls: the firmware does not run
  // between the bytes of one moment, so it is run up to at once and given them together.
  void ReceiveBytes(const uint8_t* bytes, size_t count, Micros at);
  void SetBreak(bool on, Micros at);  // a break of at least 100 ms restarts the board

  // The network's side of the board's Ethernet port: a datagram that reached the port at time
  // at, and the datagrams the board has sent by now (the network faults applied both ways).
  void ReceiveDatagram(Datagram datagram, Micros at);
  void TakeDatagrams(std::vector<Datagram>* out, Micros now);

  // Runs the firmware up to time t.
  void RunUntil(Micros t);
  // When something next happens on its own (a byte finishes on the line, a firmware timer), or
  // kNever while the firmware waits for input only.
  Micros NextEventTime();
  // Moves to out the bytes whose transmission has completed by now; returns how many.
  size_t TakeOutput(std::vector<uint8_t>* out, Micros now);

  // Power on (also done by the constructor at time 0).
  void PowerCycle(Micros at);

  BoardState& state();
  // A human- and script-readable summary: which NAND regions hold which image, the saved U-Boot
  // environment, whether the ten kernel copies equal the last uploaded kernel.
  std::string DumpState();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
