// The server's side of a Telnet COM-PORT-OPTION (RFC 2217) connection, without the socket: takes
// the client's bytes, hands out the serial data and the port commands (line settings, break,
// purge), and gives the answers the server owes the client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class Rfc2217Session {
 public:
  class Port {
   public:
    virtual ~Port() = default;
    virtual void OnData(uint8_t byte) = 0;
    virtual void OnLineSettings(uint32_t baud, int dataBits, char parity, int stopBits) = 0;
    virtual void OnBreak(bool on) = 0;
    virtual void OnPurgeReceived() = 0;  // drop what the device sent and the client has not got
  };

  // Feeds bytes from the client; returns the bytes to send back (negotiation and command answers).
  std::string Feed(const uint8_t* data, size_t length, Port& port);

  // Serial data from the device, with IAC doubled, ready for the client.
  static std::string EscapeData(const uint8_t* data, size_t length);

  uint32_t baud() const { return baud_; }

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac };

  void Negotiate(uint8_t verb, uint8_t option, std::string* reply);
  void SubCommand(Port& port, std::string* reply);

  State state_ = State::kData;
  uint8_t verb_ = 0;
  std::string sub_;
  bool comPortActive_ = false;
  uint32_t baud_ = 115200;
  int dataBits_ = 8;
  char parity_ = 'n';
  int stopBits_ = 1;
  bool breakOn_ = false;
};

}  // namespace sim
