// The simulated board behind a serial line that the host opens by name, on the tests' virtual
// clock: the host's reads, writes, breaks and sleeps move the clock, and the board runs exactly as
// far as the clock has gone. A whole flashing run takes milliseconds and is deterministic. The
// board's Ethernet port reaches one station, whose TFTP server answers on the same clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/testing/station_tftp_server.h"
#include "host/testing/virtual_clock.h"
#include "sim/board.h"

class SimulatedTarget {
 public:
  // Installs a virtual clock as the host clock and registers the port name "SIM1" (and "SIM2"...
  // for tests that want several ports; only "SIM1" has the board) until destruction.
  explicit SimulatedTarget(const sim::BoardOptions& options = sim::BoardOptions());
  ~SimulatedTarget();
  SimulatedTarget(const SimulatedTarget&) = delete;
  SimulatedTarget& operator=(const SimulatedTarget&) = delete;

  const char* portName() const { return "SIM1"; }
  sim::Board& board();
  sim::BoardState& state() { return board().state(); }
  VirtualClock& clock();
  uint64_t NowMs() { return clock().NowMs(); }

  // The host's bytes reach the board at bytesPerSecond, as through a network serial server whose
  // line runs at that rate behind deep buffers: Write returns at once, however much is still on
  // its way; a break travels in order behind the bytes. 0 (the default): at once.
  void PaceHostLine(uint32_t bytesPerSecond);

  // The line holds the board's output back for pauseMs each time the board has sent text, as a
  // USB adapter's latency timer or a network server that packs data on its own timer does, or a
  // board that works between two words of one line. Replaces an earlier pause.
  void PauseOutputAfter(const std::string& text, uint32_t pauseMs);

  // The station on the board's network (192.168.102.134): its TFTP server serves the files the
  // test puts there; datagrams to any other address are lost.
  StationTftpServer& Station();

  // Every byte the host wrote to the board, in order (breaks are not bytes).
  const std::vector<uint8_t>& HostBytes() const;
  // Number of times the host opened the line.
  int OpenCount() const;

 private:
  struct Impl;
  Impl* impl_;
};
