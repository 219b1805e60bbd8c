// The Telnet framing under the network serial line: IAC doubling of data, option verbs and
// subnegotiations, as RFC 854/855 and the COM-PORT-OPTION of RFC 2217 use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

constexpr uint8_t kSe = 240;
constexpr uint8_t kSb = 250;
constexpr uint8_t kWill = 251;
constexpr uint8_t kWont = 252;
constexpr uint8_t kDo = 253;
constexpr uint8_t kDont = 254;
constexpr uint8_t kIac = 255;

constexpr uint8_t kBinary = 0;
constexpr uint8_t kEcho = 1;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the command plus 100.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kFlowControlSuspend = 8;
constexpr uint8_t kFlowControlResume = 9;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kServerReply = 100;

// Values of SET-CONTROL and PURGE-DATA.
constexpr uint8_t kControlNoFlowControl = 1;
constexpr uint8_t kControlXonXoff = 2;
constexpr uint8_t kControlHardware = 3;
constexpr uint8_t kControlBreakOn = 5;
constexpr uint8_t kControlBreakOff = 6;
constexpr uint8_t kPurgeReceive = 1;
constexpr uint8_t kPurgeTransmit = 2;
constexpr uint8_t kPurgeBoth = 3;

// What the decoder finds in the stream.
class Receiver {
 public:
  virtual ~Receiver() = default;
  virtual void OnData(const uint8_t* data, size_t length) = 0;
  virtual void OnOption(uint8_t verb, uint8_t option) = 0;
  // The bytes between IAC SB and IAC SE, IAC doubling undone (the option first).
  virtual void OnSubnegotiation(const std::vector<uint8_t>& body) = 0;
};

// Splits the server's byte stream; commands may be cut anywhere between two Feed calls.
class Decoder {
 public:
  void Feed(const uint8_t* data, size_t length, Receiver& receiver);

 private:
  enum class State { kData, kIac, kVerb, kSub, kSubIac };
  State state_ = State::kData;
  uint8_t verb_ = 0;
  std::vector<uint8_t> body_;
};

// Data for the wire: every 0xFF doubled.
void AppendEscaped(const uint8_t* data, size_t length, std::vector<uint8_t>* out);
// IAC verb option.
std::vector<uint8_t> OptionCommand(uint8_t verb, uint8_t option);
// IAC SB COM-PORT-OPTION command value IAC SE.
std::vector<uint8_t> ComPortCommand(uint8_t command, const std::vector<uint8_t>& value);

}  // namespace telnet
