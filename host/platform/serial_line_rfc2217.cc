// The network serial line: "rfc2217://HOST:PORT" reaches a serial server (ser2net, a terminal
// server, the simulated target's devsim) over TCP, with the line settings, the break and the
// purges carried in-band by the Telnet COM-PORT-OPTION. Time-outs follow the Windows driver's
// arithmetic; a dropped connection makes reads and writes fail.
#include <chrono>
#include <deque>
#include <functional>
#include <thread>
#include <utility>

#include "host/platform/clock.h"
#include "host/platform/serial_line_backends.h"
#include "host/platform/serial_line_settings.h"
#include "host/platform/serial_line_telnet.h"
#include "host/platform/socket.h"

namespace {

constexpr uint32_t kConnectTimeoutMs = 5000;
// How long the server may take to agree to COM-PORT-OPTION and to confirm the settings.
constexpr uint32_t kNegotiationTimeoutMs = 3000;
// How long a purge waits for the server's confirmation; the bytes before it are the stale ones.
constexpr uint32_t kPurgeConfirmTimeoutMs = 1000;
constexpr uint32_t kControlSendTimeoutMs = 1000;
constexpr size_t kQueueLimit = 16u << 20;

uint32_t MsLeft(uint32_t start, uint32_t totalMs) {
  const uint32_t elapsed = SystemClock().TickMs() - start;
  return elapsed >= totalMs ? 0 : totalMs - elapsed;
}

bool WeOffer(uint8_t option) {
  return option == telnet::kComPortOption || option == telnet::kBinary || option == telnet::kSuppressGoAhead;
}

bool WeAccept(uint8_t option) {
  return option == telnet::kBinary || option == telnet::kSuppressGoAhead || option == telnet::kEcho;
}

class Rfc2217Line : public SerialLine, public DrainingLine, private telnet::Receiver {
 public:
  explicit Rfc2217Line(std::unique_ptr<TcpConnection> connection) : connection_(std::move(connection)) {
    for (uint8_t option : {telnet::kComPortOption, telnet::kBinary, telnet::kSuppressGoAhead}) {
      usAsked_[option] = true;
      SendControl(telnet::OptionCommand(telnet::kWill, option));
    }
    for (uint8_t option : {telnet::kBinary, telnet::kSuppressGoAhead}) {
      himAsked_[option] = true;
      SendControl(telnet::OptionCommand(telnet::kDo, option));
    }
    InstallDrainPump(this);
  }

  ~Rfc2217Line() override { RemoveDrainPump(this); }

  // A server that closes the connection before it has agreed to anything turns its clients away
  // (a port another client holds; ser2net's "Port already in use"): false, with the error.
  // A server still silent after the wait will not agree later: the settings fail at once then.
  // Binary transmission both ways is a must: without it a Telnet server may send a carriage return
  // as CR NUL and take one so, which changes U-Boot's commands and the YModem data. A server that
  // refuses it either way, or never agrees, is turned away too.
  bool ServerAgrees(int* error) {
    WaitUntil([this] { return comPort_ != ComPort::kPending; }, kNegotiationTimeoutMs);
    if (comPort_ == ComPort::kPending) comPort_ = ComPort::kRefused;
    WaitUntil([this] { return binaryRefused_ || (us_[telnet::kBinary] && him_[telnet::kBinary]); },
              kNegotiationTimeoutMs);
    if (broken_) {
      *error = lastError_;
      return false;
    }
    if (binaryRefused_ || !us_[telnet::kBinary] || !him_[telnet::kBinary]) {
      *error = BinaryRefusedError();
      return false;
    }
    return true;
  }

  LineSettingsResult ApplySettings(const char* text) override {
    LineSettings settings;
    if (!ParseLineSettings(text, &settings)) {
      lastError_ = InvalidAddressError();
      return LineSettingsResult::kBadParameters;
    }
    if (!WaitUntil([this] { return comPort_ != ComPort::kPending; }, kNegotiationTimeoutMs) ||
        comPort_ != ComPort::kAgreed) {
      lastError_ = broken_ ? lastError_ : NotSupportedError();
      return LineSettingsResult::kApplyFailed;
    }
    const uint32_t baud = settings.baud;
    const uint8_t parity = settings.parity == 'o' ? 2 : settings.parity == 'e' ? 3 : settings.parity == 'm' ? 4
                         : settings.parity == 's' ? 5 : 1;
    const uint8_t stop = settings.stopBits == 2 ? 2 : settings.stopBits == 15 ? 3 : 1;
    const uint8_t control = settings.xonXoff ? telnet::kControlXonXoff
                          : settings.rtsCts ? telnet::kControlHardware : telnet::kControlNoFlowControl;
    const std::pair<uint8_t, std::vector<uint8_t>> requests[] = {
        {telnet::kSetBaudRate, {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                                static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)}},
        {telnet::kSetDataSize, {settings.dataBits}},
        {telnet::kSetParity, {parity}},
        {telnet::kSetStopSize, {stop}},
        {telnet::kSetControl, {control}},
    };
    for (const auto& request : requests) {
      replies_[request.first + telnet::kServerReply].clear();
      SendControl(telnet::ComPortCommand(request.first, request.second));
    }
    // The server answers each with the value it now uses; anything else means it did not take it.
    const bool answered = WaitUntil([&] {
      for (const auto& request : requests) {
        if (replies_[request.first + telnet::kServerReply].empty()) return false;
      }
      return true;
    }, kNegotiationTimeoutMs);
    if (!answered) return LineSettingsResult::kApplyFailed;
    for (const auto& request : requests) {
      if (replies_[request.first + telnet::kServerReply] != request.second) {
        lastError_ = NotSupportedError();
        return LineSettingsResult::kApplyFailed;
      }
    }
    return LineSettingsResult::kApplied;
  }

  bool SetTimeouts(uint32_t readConstantMs, uint32_t writeConstantMs) override {
    readConstantMs_ = readConstantMs;
    writeConstantMs_ = writeConstantMs;
    return true;
  }

  bool Read(uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    const uint32_t start = SystemClock().TickMs();
    const uint32_t totalMs = static_cast<uint32_t>(length) + readConstantMs_;
    for (;;) {
      while (*count < length && !queue_.empty()) {
        data[(*count)++] = queue_.front();
        queue_.pop_front();
      }
      if (*count == length) return true;
      if (broken_) return false;  // what came before the drop has been handed over
      const uint32_t left = MsLeft(start, totalMs);
      if (left == 0) return true;
      ReceiveSome(left);
    }
  }

  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    if (broken_) return false;
    std::vector<uint8_t> wire;
    telnet::AppendEscaped(data, length, &wire);
    const uint32_t start = SystemClock().TickMs();
    const uint32_t totalMs = static_cast<uint32_t>(length) + writeConstantMs_;
    size_t sent = 0;
    while (sent < wire.size()) {
      const uint32_t left = MsLeft(start, totalMs);
      if (left == 0) break;
      if (suspended_) {  // the server asked us to hold back
        ReceiveSome(left);
      } else {
        int error = 0;
        const long done = connection_->Send(wire.data() + sent, wire.size() - sent, left, &error);
        if (done < 0) return Broken(error);
        sent += static_cast<size_t>(done);
        if (!broken_) ReceiveSome(0);  // keep the server's output moving too
      }
      if (broken_) break;
    }
    // Count the data bytes whose whole encoding went out.
    size_t wireBytes = 0;
    for (size_t i = 0; i < length; ++i) {
      wireBytes += data[i] == telnet::kIac ? 2 : 1;
      if (wireBytes > sent) break;
      ++*count;
    }
    if (*count == length) return true;
    if (!broken_) lastError_ = TimedOutError();  // what did not go out in time is a failure
    return false;
  }

  bool SetBreak(bool on) override {
    return SendComPort(telnet::kSetControl, on ? telnet::kControlBreakOn : telnet::kControlBreakOff);
  }

  bool Purge(unsigned flags) override {
    const bool input = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool output = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (!input && !output) return true;
    const uint8_t which = input && output ? telnet::kPurgeBoth : input ? telnet::kPurgeReceive : telnet::kPurgeTransmit;
    if (input) {
      queue_.clear();
      discardUntilPurgeConfirmed_ = true;
    }
    const unsigned confirmedBefore = purgeConfirmations_;
    if (!SendComPort(telnet::kPurgeData, which)) {
      discardUntilPurgeConfirmed_ = false;
      return false;
    }
    if (input) {
      // Everything the server sent before its confirmation was received before the purge.
      WaitUntil([&] { return purgeConfirmations_ != confirmedBefore; }, kPurgeConfirmTimeoutMs);
      discardUntilPurgeConfirmed_ = false;
    }
    return !broken_;
  }

  int LastError() const override { return lastError_; }

  void Drain(uint32_t waitMs) override {
    const uint32_t start = SystemClock().TickMs();
    if (!broken_ && queue_.size() < kQueueLimit) ReceiveSome(waitMs);
    const uint32_t left = MsLeft(start, waitMs);
    if ((broken_ || queue_.size() >= kQueueLimit) && left > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(left));  // nothing to drain: rest
    }
  }

 private:
  enum class ComPort { kPending, kAgreed, kRefused };

  bool Broken(int error) {
    broken_ = true;
    lastError_ = error;
    return false;
  }

  // Receives for up to waitMs and takes the stream apart. False once the connection is gone.
  bool ReceiveSome(uint32_t waitMs) {
    if (broken_) return false;
    uint8_t chunk[4096];
    int error = 0;
    const long got = connection_->Receive(chunk, sizeof chunk, waitMs, &error);
    if (got < 0) return Broken(error);
    decoder_.Feed(chunk, static_cast<size_t>(got), *this);
    return !broken_;
  }

  bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = SystemClock().TickMs();
    for (;;) {
      if (done()) return true;
      const uint32_t left = MsLeft(start, timeoutMs);
      if (left == 0 || !ReceiveSome(left)) return done();
    }
  }

  // Protocol bytes that must go out whole, whatever the data time-outs are.
  bool SendControl(const std::vector<uint8_t>& bytes) {
    if (broken_) return false;
    const uint32_t start = SystemClock().TickMs();
    size_t sent = 0;
    while (sent < bytes.size()) {
      const uint32_t left = MsLeft(start, kControlSendTimeoutMs);
      if (left == 0) return Broken(TimedOutError());
      int error = 0;
      const long done = connection_->Send(bytes.data() + sent, bytes.size() - sent, left, &error);
      if (done < 0) return Broken(error);
      sent += static_cast<size_t>(done);
    }
    return true;
  }

  bool SendComPort(uint8_t command, uint8_t value) {
    if (comPort_ != ComPort::kAgreed) {
      // Settings come first and wait for the agreement; a server that never agreed cannot do this.
      WaitUntil([this] { return comPort_ != ComPort::kPending; }, kNegotiationTimeoutMs);
      if (comPort_ != ComPort::kAgreed) {
        if (!broken_) lastError_ = NotSupportedError();
        return false;
      }
    }
    return SendControl(telnet::ComPortCommand(command, {value}));
  }

  void OnData(const uint8_t* data, size_t length) override {
    if (discardUntilPurgeConfirmed_) return;
    queue_.insert(queue_.end(), data, data + length);
  }

  void OnOption(uint8_t verb, uint8_t option) override {
    switch (verb) {
      case telnet::kDo:
        if (!WeOffer(option)) {
          SendControl(telnet::OptionCommand(telnet::kWont, option));
          break;
        }
        if (!us_[option] && !usAsked_[option]) SendControl(telnet::OptionCommand(telnet::kWill, option));
        us_[option] = true;
        if (option == telnet::kComPortOption) comPort_ = ComPort::kAgreed;
        break;
      case telnet::kDont:
        if (us_[option]) SendControl(telnet::OptionCommand(telnet::kWont, option));
        us_[option] = false;
        usAsked_[option] = false;
        if (option == telnet::kComPortOption) comPort_ = ComPort::kRefused;
        if (option == telnet::kBinary) binaryRefused_ = true;
        break;
      case telnet::kWill:
        if (!WeAccept(option)) {
          SendControl(telnet::OptionCommand(telnet::kDont, option));
          break;
        }
        if (!him_[option] && !himAsked_[option]) SendControl(telnet::OptionCommand(telnet::kDo, option));
        him_[option] = true;
        break;
      case telnet::kWont:
        if (him_[option]) SendControl(telnet::OptionCommand(telnet::kDont, option));
        him_[option] = false;
        himAsked_[option] = false;
        if (option == telnet::kBinary) binaryRefused_ = true;
        break;
    }
  }

  void OnSubnegotiation(const std::vector<uint8_t>& body) override {
    if (body.size() < 2 || body[0] != telnet::kComPortOption) return;
    const uint8_t command = body[1];
    if (command == telnet::kServerReply + telnet::kPurgeData) {
      ++purgeConfirmations_;
      discardUntilPurgeConfirmed_ = false;
    } else if (command == telnet::kServerReply + telnet::kFlowControlSuspend) {
      suspended_ = true;
    } else if (command == telnet::kServerReply + telnet::kFlowControlResume) {
      suspended_ = false;
    }
    replies_[command].assign(body.begin() + 2, body.end());
  }

  std::unique_ptr<TcpConnection> connection_;
  telnet::Decoder decoder_;
  std::deque<uint8_t> queue_;
  bool us_[256] = {};
  bool usAsked_[256] = {};
  bool him_[256] = {};
  bool himAsked_[256] = {};
  ComPort comPort_ = ComPort::kPending;
  std::vector<uint8_t> replies_[256];
  unsigned purgeConfirmations_ = 0;
  bool discardUntilPurgeConfirmed_ = false;
  bool suspended_ = false;
  bool binaryRefused_ = false;  // DONT or WONT BINARY: the server would change the data
  bool broken_ = false;
  uint32_t readConstantMs_ = 1000;
  uint32_t writeConstantMs_ = 100;
  int lastError_ = 0;
};

}  // namespace

bool SplitRfc2217Url(const std::string& name, std::string* host, std::string* port) {
  if (name.compare(0, sizeof kRfc2217Scheme - 1, kRfc2217Scheme) != 0) return false;
  std::string rest = name.substr(sizeof kRfc2217Scheme - 1);
  rest = rest.substr(0, rest.find_first_of("/?"));
  size_t colon = std::string::npos;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
    *host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.find(':');
    if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos) return false;
    *host = rest.substr(0, colon);
  }
  *port = rest.substr(colon + 1);
  if (host->empty() || port->empty() || port->size() > 5) return false;
  for (char c : *port) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long number = std::stoul(*port);
  return number >= 1 && number <= 65535;
}

std::unique_ptr<SerialLine> OpenRfc2217SerialLine(const std::string& name, int* error) {
  std::string host;
  std::string port;
  if (!SplitRfc2217Url(name, &host, &port)) {
    *error = InvalidAddressError();
    return nullptr;
  }
  std::unique_ptr<TcpConnection> connection = ConnectTcp(host, port, kConnectTimeoutMs, error);
  if (!connection) return nullptr;
  std::unique_ptr<Rfc2217Line> line(new Rfc2217Line(std::move(connection)));
  if (!line->ServerAgrees(error)) return nullptr;
  return line;
}
