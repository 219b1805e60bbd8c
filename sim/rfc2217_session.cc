#include "sim/rfc2217_session.h"

namespace sim {

namespace {

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kSga = 3, kComPort = 44;
constexpr size_t kMaxSub = 64;

// COM-PORT-OPTION commands from the client; the server answers with the command plus 100.
enum : uint8_t {
  kSetBaud = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowSuspend = 8,
  kFlowResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};

std::string Sub(uint8_t command, const std::string& value) {
  std::string out;
  out += static_cast<char>(kIac);
  out += static_cast<char>(kSb);
  out += static_cast<char>(kComPort);
  out += static_cast<char>(command + 100);
  out += Rfc2217Session::EscapeData(reinterpret_cast<const uint8_t*>(value.data()), value.size());
  out += static_cast<char>(kIac);
  out += static_cast<char>(kSe);
  return out;
}

std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

}  // namespace

std::string Rfc2217Session::EscapeData(const uint8_t* data, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    out += static_cast<char>(data[i]);
    if (data[i] == kIac) out += static_cast<char>(kIac);
  }
  return out;
}

std::string Rfc2217Session::Feed(const uint8_t* data, size_t length, Port& port) {
  std::string reply;
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = data[i];
    switch (state_) {
      case State::kData:
        if (b == kIac) state_ = State::kIac;
        else port.OnData(b);
        break;
      case State::kIac:
        if (b == kIac) {
          port.OnData(kIac);
          state_ = State::kData;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = State::kOption;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // NOP, AYT and friends: nothing to do for a serial port
        }
        break;
      case State::kOption:
        Negotiate(verb_, b, &reply);
        state_ = State::kData;
        break;
      case State::kSub:
        if (b == kIac) state_ = State::kSubIac;
        else if (sub_.size() < kMaxSub) sub_ += static_cast<char>(b);
        break;
      case State::kSubIac:
        if (b == kSe) {
          SubCommand(port, &reply);
          state_ = State::kData;
        } else {
          if (sub_.size() < kMaxSub) sub_ += static_cast<char>(b);  // IAC IAC inside: one 255
          state_ = State::kSub;
        }
        break;
    }
  }
  return reply;
}

void Rfc2217Session::Negotiate(uint8_t verb, uint8_t option, std::string* reply) {
  bool supported = option == kBinary || option == kSga || option == kComPort;
  std::string answer = Byte(kIac);
  if (verb == kWill) {
    answer += Byte(supported ? kDo : kDont);
    if (option == kComPort) comPortActive_ = true;
  } else if (verb == kDo) {
    // The server does binary and suppress-go-ahead; it does not echo.
    answer += Byte(supported && option != kComPort ? kWill : kWont);
  } else if (verb == kWont) {
    answer += Byte(kDont);
    if (option == kComPort) comPortActive_ = false;
  } else {
    answer += Byte(kWont);
  }
  *reply += answer + Byte(option);
}

void Rfc2217Session::SubCommand(Port& port, std::string* reply) {
  if (sub_.size() < 2 || static_cast<uint8_t>(sub_[0]) != kComPort) return;
  uint8_t command = static_cast<uint8_t>(sub_[1]);
  std::string value = sub_.substr(2);
  auto u8 = [&value]() { return value.empty() ? 0 : static_cast<uint8_t>(value[0]); };
  switch (command) {
    case kSetBaud: {
      if (value.size() != 4) return;
      uint32_t baud = 0;
      for (char c : value) baud = baud << 8 | static_cast<uint8_t>(c);
      if (baud != 0) baud_ = baud;  // 0 asks for the current value
      port.OnLineSettings(baud_, dataBits_, parity_, stopBits_);
      std::string v;
      for (int shift = 24; shift >= 0; shift -= 8) v += static_cast<char>(baud_ >> shift);
      *reply += Sub(command, v);
      return;
    }
    case kSetDataSize:
      if (u8() >= 5 && u8() <= 8) dataBits_ = u8();
      port.OnLineSettings(baud_, dataBits_, parity_, stopBits_);
      *reply += Sub(command, Byte(dataBits_));
      return;
    case kSetParity: {
      static const char kParity[] = {'?', 'n', 'o', 'e', 'm', 's'};
      if (u8() >= 1 && u8() <= 5) parity_ = kParity[u8()];
      port.OnLineSettings(baud_, dataBits_, parity_, stopBits_);
      int code = 1;
      for (int i = 1; i <= 5; ++i)
        if (kParity[i] == parity_) code = i;
      *reply += Sub(command, Byte(code));
      return;
    }
    case kSetStopSize:
      if (u8() == 1) stopBits_ = 1;
      if (u8() == 2) stopBits_ = 2;
      if (u8() == 3) stopBits_ = 15;
      port.OnLineSettings(baud_, dataBits_, parity_, stopBits_);
      *reply += Sub(command, Byte(stopBits_ == 15 ? 3 : stopBits_));
      return;
    case kSetControl:
      if (u8() == 5 || u8() == 6) {
        breakOn_ = u8() == 5;
        port.OnBreak(breakOn_);
        *reply += Sub(command, Byte(u8()));
      } else if (u8() == 4) {
        *reply += Sub(command, Byte(breakOn_ ? 5 : 6));  // asks for the break state
      } else {
        *reply += Sub(command, Byte(u8() == 0 ? 1 : u8()));  // flow control and modem lines: taken as given
      }
      return;
    case kPurgeData:
      if (u8() == 1 || u8() == 3) port.OnPurgeReceived();
      *reply += Sub(command, Byte(u8()));
      return;
    case kSetLineStateMask:
    case kSetModemStateMask:
      *reply += Sub(command, Byte(u8()));
      return;
    case kFlowSuspend:
    case kFlowResume:
    case kNotifyLineState:
    case kNotifyModemState:
    default:
      return;
  }
}

}  // namespace sim
