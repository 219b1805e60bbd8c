#include "host/testing/simulated_target.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>

#include "host/platform/serial_line.h"

namespace {

constexpr const char* kPrefix = "SIM";
constexpr uint32_t kDefaultReadConstantMs = 1000;

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

// The clock, the board and the host's side of the line, shared by the target and its open lines.
struct TargetCore {
  explicit TargetCore(const sim::BoardOptions& options) : board(options) {}

  // The board catches up with the host's clock (which moves when the host sleeps) and hands over
  // what it has sent meanwhile.
  void Sync() {
    std::vector<uint8_t> out;
    board.TakeOutput(&out, NowUs());
    if (lineOpen) received.insert(received.end(), out.begin(), out.end());
  }
  sim::Micros NowUs() const { return clock.NowMs() * 1000; }

  VirtualClock clock;
  sim::Board board;
  std::vector<uint8_t> hostBytes;
  std::deque<uint8_t> received;  // what the board sent and the host has not read
  int openCount = 0;
  bool lineOpen = false;
};

class SimulatedLine : public SerialLine {
 public:
  explicit SimulatedLine(TargetCore* target) : target_(target) {
    if (!target_) return;
    target_->Sync();  // what the board sent while the port was closed is lost
    target_->received.clear();
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
    if (!ParseModeString(settings, &baud, &dataBits, &parity, &stopBits)) return LineSettingsResult::kBadParameters;
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
      sim::Micros next = target_->board.NextEventTime();
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
      for (size_t i = 0; i < length; ++i) {
        target_->hostBytes.push_back(data[i]);
        target_->board.ReceiveByte(data[i], target_->NowUs());
      }
    }
    *count = length;
    return true;
  }

  bool SetBreak(bool on) override {
    if (target_) {
      target_->Sync();
      target_->board.SetBreak(on, target_->NowUs());
    }
    return true;
  }

  bool Purge(unsigned flags) override {
    if (target_ && (flags & (kPurgeRxAbort | kPurgeRxClear))) {
      target_->Sync();
      target_->received.clear();
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
  RegisterSerialLineOpener(kPrefix, [impl](const std::string& name, int* error) -> std::unique_ptr<SerialLine> {
    std::string number = name.substr(std::strlen(kPrefix));
    if (number == "1") {
      if (impl->lineOpen) {  // opened exclusively, as a real port
        *error = EBUSY;
        return nullptr;
      }
      return std::unique_ptr<SerialLine>(new SimulatedLine(impl));
    }
    if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos && number[0] != '0')
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
const std::vector<uint8_t>& SimulatedTarget::HostBytes() const { return impl_->hostBytes; }
int SimulatedTarget::OpenCount() const { return impl_->openCount; }
