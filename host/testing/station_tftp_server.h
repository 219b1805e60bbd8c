// The station's TFTP server on the tests' simulated network: a strict RFC 1350 peer written from
// the server's side. It answers a read request in octet mode with 512-byte data blocks from a new
// transfer ID, sends the next block only for the acknowledgement of the last one, and answers a
// file it does not hold with ERROR 1 "File not found". It counts what it saw, so that tests can
// check the board's client block by block.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/firmware.h"

class StationTftpServer {
 public:
  // 192.168.102.134, the server address of the board's default environment.
  static constexpr uint32_t kDefaultAddress = 0xC0A86686u;

  explicit StationTftpServer(uint32_t address = kDefaultAddress) : address_(address) {}

  uint32_t address() const { return address_; }
  // The files it serves, by name.
  std::map<std::string, std::vector<uint8_t>> files;

  // A datagram for the station; returns the answers.
  std::vector<sim::Datagram> Handle(const sim::Datagram& in);

  // What it saw.
  std::vector<std::string> requests;  // file names asked for, in order
  unsigned acknowledgements = 0;      // acknowledgements of the block last sent
  unsigned strayPackets = 0;          // anything that broke the protocol
  unsigned transfersCompleted = 0;    // last (short) block acknowledged

 private:
  struct Transfer {
    uint32_t clientIp;
    uint16_t clientPort;
    std::vector<uint8_t> file;
    uint16_t block = 0;  // the block last sent
    size_t offset = 0;   // of that block in the file
    bool done = false;
  };
  sim::Datagram DataBlock(Transfer& transfer, uint16_t tid);
  sim::Datagram Reply(const sim::Datagram& in, uint16_t fromPort, std::vector<uint8_t> payload) const;

  uint32_t address_;
  uint16_t nextTid_ = 40000;
  std::map<uint16_t, Transfer> transfers_;  // by the server's transfer ID
};
