#include "host/platform/serial_line_telnet.h"

namespace telnet {

namespace {

// Longer subnegotiations than any COM-PORT-OPTION answer are cut: a misbehaving server cannot make
// the line grow without bound.
constexpr size_t kBodyLimit = 256;

}  // namespace

void Decoder::Feed(const uint8_t* data, size_t length, Receiver& receiver) {
  size_t runStart = 0;  // plain data is handed over in runs
  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = data[i];
    switch (state_) {
      case State::kData:
        if (byte == kIac) {
          if (i > runStart) receiver.OnData(data + runStart, i - runStart);
          state_ = State::kIac;
          runStart = i + 1;
        }
        continue;
      case State::kIac:
        if (byte == kIac) {
          receiver.OnData(&byte, 1);
          state_ = State::kData;
        } else if (byte >= kWill && byte <= kDont) {
          verb_ = byte;
          state_ = State::kVerb;
        } else if (byte == kSb) {
          body_.clear();
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // NOP, GA and the like carry nothing for a serial line
        }
        break;
      case State::kVerb:
        receiver.OnOption(verb_, byte);
        state_ = State::kData;
        break;
      case State::kSub:
        if (byte == kIac) state_ = State::kSubIac;
        else if (body_.size() < kBodyLimit) body_.push_back(byte);
        break;
      case State::kSubIac:
        if (byte == kIac) {
          if (body_.size() < kBodyLimit) body_.push_back(byte);
          state_ = State::kSub;
        } else {
          if (byte == kSe) receiver.OnSubnegotiation(body_);
          state_ = State::kData;  // anything else after IAC breaks the subnegotiation off
        }
        break;
    }
    runStart = i + 1;
  }
  if (state_ == State::kData && length > runStart) receiver.OnData(data + runStart, length - runStart);
}

void AppendEscaped(const uint8_t* data, size_t length, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < length; ++i) {
    out->push_back(data[i]);
    if (data[i] == kIac) out->push_back(kIac);
  }
}

std::vector<uint8_t> OptionCommand(uint8_t verb, uint8_t option) { return {kIac, verb, option}; }

std::vector<uint8_t> ComPortCommand(uint8_t command, const std::vector<uint8_t>& value) {
  std::vector<uint8_t> out = {kIac, kSb, kComPortOption, command};
  AppendEscaped(value.data(), value.size(), &out);
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

}  // namespace telnet
