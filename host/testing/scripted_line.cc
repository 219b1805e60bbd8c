#include "host/testing/scripted_line.h"

#include <algorithm>
#include <cstring>

namespace {

class ScriptedLine : public SerialLine {
 public:
  explicit ScriptedLine(ScriptedPort& port) : port_(port) {
    ++port_.opens;
    port_.lineOpen = true;
  }
  ~ScriptedLine() override { port_.lineOpen = false; }

  LineSettingsResult ApplySettings(const char* settings) override {
    port_.settings.push_back(settings ? settings : "");
    return LineSettingsResult::kApplied;
  }

  bool SetTimeouts(uint32_t readConstantMs, uint32_t writeConstantMs) override {
    port_.readConstantMs = readConstantMs;
    port_.writeConstantMs = writeConstantMs;
    return true;
  }

  bool Read(uint8_t* data, size_t length, size_t* count) override {
    VirtualClock& clock = port_.clock();
    *count = 0;
    const uint64_t deadline = clock.NowMs() + length + port_.readConstantMs;
    for (;;) {
      if (port_.ReadsFailNow(&error_)) return false;
      *count += port_.Receive(data + *count, length - *count);
      if (*count == length) return true;
      uint64_t next = 0;
      if (!port_.NextArrival(&next) || next > deadline) next = deadline;
      uint64_t failAt = 0;
      if (port_.FailTime(&failAt) && failAt < next) next = failAt;
      clock.AdvanceTo(next);
      if (next == deadline && !port_.ReadsFailNow(&error_)) return true;
    }
  }

  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    port_.writes.push_back({port_.clock().NowMs(), std::string(data, data + length)});
    if (port_.onWrite) port_.onWrite(port_, port_.writes.back().bytes);
    *count = length;
    return true;
  }

  bool SetBreak(bool on) override {
    if (on) {
      port_.breaks.push_back({port_.clock().NowMs(), 0});
      return true;
    }
    if (port_.breaks.empty() || port_.breaks.back().offMs != 0) return false;  // never raised
    port_.breaks.back().offMs = port_.clock().NowMs();
    if (port_.onBreak) port_.onBreak(port_);
    return true;
  }

  bool Purge(unsigned flags) override {
    port_.purges.push_back(flags);
    if (flags & kPurgeRxClear) port_.DropArrived();
    return true;
  }

  int LastError() const override { return error_; }

 private:
  ScriptedPort& port_;
  int error_ = 0;
};

}  // namespace

void ScriptedPort::SendAt(uint64_t atMs, const std::string& text) { pending_.emplace(atMs, text); }

void ScriptedPort::FailReadsFrom(uint64_t atMs, int error) {
  failFromMs_ = atMs;
  failError_ = error;
}

std::string ScriptedPort::AllWritten() const {
  std::string all;
  for (const auto& write : writes) all += write.bytes;
  return all;
}

size_t ScriptedPort::Receive(uint8_t* data, size_t length) {
  size_t count = 0;
  while (count < length && !pending_.empty() && pending_.begin()->first <= clock_.NowMs()) {
    std::string& text = pending_.begin()->second;
    const size_t take = std::min(length - count, text.size());
    std::memcpy(data + count, text.data(), take);
    count += take;
    text.erase(0, take);
    if (text.empty()) pending_.erase(pending_.begin());
  }
  return count;
}

bool ScriptedPort::NextArrival(uint64_t* atMs) const {
  if (pending_.empty()) return false;
  *atMs = pending_.begin()->first;
  return true;
}

bool ScriptedPort::FailTime(uint64_t* atMs) const {
  if (failFromMs_ == UINT64_MAX) return false;
  *atMs = failFromMs_;
  return true;
}

bool ScriptedPort::ReadsFailNow(int* error) const {
  if (clock_.NowMs() < failFromMs_) return false;
  *error = failError_;
  return true;
}

void ScriptedPort::DropArrived() {
  while (!pending_.empty() && pending_.begin()->first <= clock_.NowMs()) pending_.erase(pending_.begin());
}

ScriptedPorts::ScriptedPorts(VirtualClock& clock, const std::string& prefix)
    : clock_(clock), prefix_(prefix) {
  RegisterSerialLineOpener(prefix_, [this](const std::string& name, int* error) -> std::unique_ptr<SerialLine> {
    auto it = ports_.find(name);
    if (it == ports_.end()) {
      *error = 2;
      return nullptr;
    }
    if (it->second->openError != 0) {
      *error = it->second->openError;
      return nullptr;
    }
    return std::unique_ptr<SerialLine>(new ScriptedLine(*it->second));
  });
}

ScriptedPorts::~ScriptedPorts() { UnregisterSerialLineOpener(prefix_); }

ScriptedPort& ScriptedPorts::Add(const std::string& name) {
  auto& slot = ports_[name];
  slot.reset(new ScriptedPort(clock_));
  return *slot;
}
