#include "host/testing/simulated_target.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>
#include <string>

#include "host/platform/serial_line.h"
#include "host/testing/station_tftp_server.h"

namespace {

constexpr const char* kPrefix = "SIM";
constexpr uint32_t kDefaultReadConstantMs = 1000;
// From a datagram's arrival at the station to its server's answer leaving it.
constexpr sim::Micros kStationTurnaroundUs = 50;

// The mode string as BuildCommDCBA reads it: key=value words; only the keys the line cares about
// change the board's settings, unknown keys make the text bad.
bool ParseModeString(const char* text, uint32_t* baud, int* dataBits, char* parity, int* stopBits) {
  std::istringstream words(text ? text : "");
  std::string word;
  bool any = false;
  while (words >> word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos || eq + 1 == word.size()) return false;
    std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    char* end = nullptr;
    if (key == "baud") {
      *baud = static_cast<uint32_t>(std::strtoul(value.c_str(), &end, 10));
      if (*end != '\0' || *baud == 0) return false;
    } else if (key == "data") {
      *dataBits = static_cast<int>(std::strtol(value.c_str(), &end, 10));
      if (*end != '\0' || *dataBits < 5 || *dataBits > 8) return false;
    } else if (key == "parity") {
      if (value.size() != 1 || !std::strchr("noemsNOEMS", value[0])) return false;
      *parity = value[0];
    } else if (key == "stop") {
      if (value != "1" && value != "1.5" && value != "2") return false;
      *stopBits = value == "1" ? 1 : value == "2" ? 2 : 15;
    } else if (key == "xon" || key == "odsr" || key == "octs" || key == "idsr" || key == "to") {
      if (value != "on" && value != "off") return false;
    } else if (key == "dtr" || key == "rts") {
      if (value != "on" && value != "off" && value != "hs" && value != "tg") return false;
    } else {
      return false;
    }
    any = true;
  }
  return any;
}

// What the host did on its side of the line, on its way to the board.
struct HostAction {
  enum Kind { kByte, kBreakOn, kBreakOff } kind;
  uint8_t byte;
  sim::Micros due;  // when it reaches the board
};

// The clock, the board and the host's side of the line, shared by the target and its open lines.
struct TargetCore {
  explicit TargetCore(const sim::BoardOptions& options) : board(options) {}

  // The board catches up with the host's clock (which moves when the host sleeps), takes what
  // the host's line has carried by now, and hands over what it has sent meanwhile.
  void Sync() {
    const sim::Micros now = NowUs();
    // What the line carried since the last look arrives together, as a UART's FIFO hands it over:
    // one firmware wake-up, not one per byte. A break's edge takes effect when the line carried
    // it, so that a break the host held while it slept lasts as long on the board.
    while (!inFlight.empty() && inFlight.front().due <= now) {
      sim::Micros at = now;
      for (const HostAction& action : inFlight) {
        if (action.due > now) break;
        if (action.kind != HostAction::kByte) {
          at = action.due;
          break;
        }
      }
      RunNetwork(at);
      while (!inFlight.empty() && inFlight.front().due <= at) {
        const HostAction action = inFlight.front();
        inFlight.pop_front();
        if (action.kind == HostAction::kByte)
          board.ReceiveByte(action.byte, at);
        else
          board.SetBreak(action.kind == HostAction::kBreakOn, at);
      }
    }
    RunNetwork(now);
    std::vector<uint8_t> out;
    board.TakeOutput(&out, now);
    Deliver(out, now);
  }
  sim::Micros NowUs() const { return clock.NowMs() * 1000; }

  // The board's output reaches the host's side of the open line at time at, unless a pause
  // after the awaited text holds it back.
  void Deliver(const std::vector<uint8_t>& out, sim::Micros at) {
    if (!lineOpen) return;
    held.insert(held.end(), out.begin(), out.end());
    const size_t n = pauseText.size();
    while (!held.empty() && at >= heldUntilUs) {
      received.push_back(held.front());
      held.pop_front();
      if (n > 0 && received.size() >= n && std::equal(pauseText.begin(), pauseText.end(), received.end() - n))
        heldUntilUs = at + pauseUs;
    }
  }
  void DropReceived() {
    received.clear();
    held.clear();
  }

  // The board and the station's server in step, datagram by datagram, up to now: a block and its
  // acknowledgement take microseconds, far less than the host's millisecond clock.
  void RunNetwork(sim::Micros now) {
    for (;;) {
      sim::Micros next = board.NextEventTime();
      if (!toBoard.empty()) next = std::min(next, toBoard.front().first);
      if (next > now) return;
      while (!toBoard.empty() && toBoard.front().first <= next) {
        board.ReceiveDatagram(std::move(toBoard.front().second), toBoard.front().first);
        toBoard.pop_front();
      }
      std::vector<uint8_t> out;
      board.TakeOutput(&out, next);
      Deliver(out, next);
      std::vector<sim::Datagram> sent;
      board.TakeDatagrams(&sent, next);
      for (const sim::Datagram& datagram : sent) {
        if (datagram.destinationIp != station.address()) continue;  // nobody there
        for (sim::Datagram& answer : station.Handle(datagram))
          toBoard.emplace_back(next + kStationTurnaroundUs, std::move(answer));
      }
    }
  }

  // The host's bytes of one write: at once on an unpaced line, each in its turn on a paced one.
  void SendBytes(const uint8_t* data, size_t length) {
    if (hostByteUs == 0) {
      board.ReceiveBytes(data, length, NowUs());
      return;
    }
    for (size_t i = 0; i < length; ++i) Send(HostAction::kByte, data[i]);
  }

  // The host's action goes out now, or behind what the paced line still carries (after a Sync).
  void Send(HostAction::Kind kind, uint8_t byte) {
    if (hostByteUs == 0) {
      if (kind == HostAction::kByte)
        board.ReceiveByte(byte, NowUs());
      else
        board.SetBreak(kind == HostAction::kBreakOn, NowUs());
      return;
    }
    const sim::Micros start = std::max(NowUs(), lineFreeUs);
    lineFreeUs = start + (kind == HostAction::kByte ? hostByteUs : 0);
    inFlight.push_back({kind, byte, lineFreeUs});
  }
  // When the next thing happens: the board's own next event or a host byte's arrival.
  sim::Micros NextEventTime() {
    sim::Micros next = board.NextEventTime();
    if (!inFlight.empty()) next = std::min(next, inFlight.front().due);
    if (!toBoard.empty()) next = std::min(next, toBoard.front().first);
    if (!held.empty()) next = std::min(next, heldUntilUs);
    return next;
  }

  VirtualClock clock;
  sim::Board board;
  std::vector<uint8_t> hostBytes;
  std::deque<uint8_t> received;  // what the board sent and the host has not read
  std::deque<uint8_t> held;      // what the line holds back until heldUntilUs
  sim::Micros heldUntilUs = 0;
  std::string pauseText;  // the line pauses for pauseUs after each of these
  sim::Micros pauseUs = 0;
  sim::Micros hostByteUs = 0;    // a paced host line: one byte's time on it
  sim::Micros lineFreeUs = 0;    // when the paced line has carried everything so far
  std::deque<HostAction> inFlight;
  int openCount = 0;
  bool lineOpen = false;
  StationTftpServer station;
  std::deque<std::pair<sim::Micros, sim::Datagram>> toBoard;  // the station's answers on their way
};

class SimulatedLine : public SerialLine {
 public:
  explicit SimulatedLine(TargetCore* target) : target_(target) {
    if (!target_) return;
    target_->Sync();  // what the board sent while the port was closed is lost
    target_->DropReceived();
    target_->lineOpen = true;
    ++target_->openCount;
  }
  ~SimulatedLine() override {
    if (target_) target_->lineOpen = false;
  }

  LineSettingsResult ApplySettings(const char* settings) override {
    uint32_t baud = 9600;
    int dataBits = 8, stopBits = 1;
    char parity = 'n';
    if (!ParseModeString(settings, &baud, &dataBits, &parity, &stopBits))
      return LineSettingsResult::kBadParameters;
    if (target_) {
      target_->Sync();
      target_->board.SetLineSettings(baud, dataBits, parity, stopBits);
    }
    return LineSettingsResult::kApplied;
  }

  bool SetTimeouts(uint32_t readConstantMs, uint32_t) override {
    readConstantMs_ = readConstantMs;
    return true;
  }

  bool Read(uint8_t* data, size_t length, size_t* count) override {
    *count = 0;
    if (!target_) {
      HostClock().SleepMs(static_cast<uint32_t>(length + readConstantMs_));
      return true;
    }
    VirtualClock& clock = target_->clock;
    uint64_t deadline = clock.NowMs() + length + readConstantMs_;
    target_->Sync();
    while (target_->received.size() < length) {
      sim::Micros next = target_->NextEventTime();
      uint64_t nextMs = next == sim::kNever ? deadline + 1 : (next + 999) / 1000;
      if (nextMs > deadline) {
        clock.AdvanceTo(deadline);
        target_->Sync();
        break;
      }
      clock.AdvanceTo(nextMs);
      target_->Sync();
    }
    while (*count < length && !target_->received.empty()) {
      data[(*count)++] = target_->received.front();
      target_->received.pop_front();
    }
    return true;
  }

  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    if (target_) {
      target_->Sync();
      target_->hostBytes.insert(target_->hostBytes.end(), data, data + length);
      target_->SendBytes(data, length);
    }
    *count = length;
    return true;
  }

  bool SetBreak(bool on) override {
    if (target_) {
      target_->Sync();
      target_->Send(on ? HostAction::kBreakOn : HostAction::kBreakOff, 0);
    }
    return true;
  }

  bool Purge(unsigned flags) override {
    if (target_ && (flags & (kPurgeRxAbort | kPurgeRxClear))) {
      target_->Sync();
      target_->DropReceived();
    }
    return true;
  }

  int LastError() const override { return 0; }

 private:
  TargetCore* target_;  // null: a port with nothing on it
  uint32_t readConstantMs_ = kDefaultReadConstantMs;
};

}  // namespace

struct SimulatedTarget::Impl : TargetCore {
  using TargetCore::TargetCore;
};

SimulatedTarget::SimulatedTarget(const sim::BoardOptions& options) : impl_(new Impl(options)) {
  SetHostClock(&impl_->clock);
  Impl* impl = impl_;
  RegisterSerialLineOpener(
      kPrefix, [impl](const std::string& name, int* error) -> std::unique_ptr<SerialLine> {
        std::string number = name.substr(std::strlen(kPrefix));
        if (number == "1") {
          if (impl->lineOpen) {  // opened exclusively, as a real port
            *error = EBUSY;
            return nullptr;
          }
          return std::unique_ptr<SerialLine>(new SimulatedLine(impl));
        }
        if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos &&
            number[0] != '0')
          return std::unique_ptr<SerialLine>(new SimulatedLine(nullptr));
        *error = ENOENT;
        return nullptr;
      });
}

SimulatedTarget::~SimulatedTarget() {
  UnregisterSerialLineOpener(kPrefix);
  SetHostClock(nullptr);
  delete impl_;
}

sim::Board& SimulatedTarget::board() { return impl_->board; }
VirtualClock& SimulatedTarget::clock() { return impl_->clock; }
void SimulatedTarget::PaceHostLine(uint32_t bytesPerSecond) {
  impl_->hostByteUs = bytesPerSecond ? (1000000 + bytesPerSecond - 1) / bytesPerSecond : 0;
}

void SimulatedTarget::PauseOutputAfter(const std::string& text, uint32_t pauseMs) {
  impl_->pauseText = text;
  impl_->pauseUs = sim::Micros{pauseMs} * 1000;
}

StationTftpServer& SimulatedTarget::Station() { return impl_->station; }

const std::vector<uint8_t>& SimulatedTarget::HostBytes() const { return impl_->hostBytes; }
int SimulatedTarget::OpenCount() const { return impl_->openCount; }
