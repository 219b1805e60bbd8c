// A clock that moves only when the program sleeps or a simulated line waits: time-outs are
// asserted in virtual milliseconds and a long wait costs no real time.
#pragma once

#include <cstdint>

#include "host/platform/clock.h"

class VirtualClock : public Clock {
 public:
  uint32_t TickMs() override { return static_cast<uint32_t>(nowMs_); }
  void SleepMs(uint32_t ms) override { nowMs_ += ms; }

  uint64_t NowMs() const { return nowMs_; }
  void AdvanceTo(uint64_t ms) {
    if (ms > nowMs_) nowMs_ = ms;
  }
  void Advance(uint64_t ms) { nowMs_ += ms; }

 private:
  uint64_t nowMs_ = 1000;
};

// Installs a virtual clock as the host clock for the life of a test.
class ScopedVirtualClock {
 public:
  ScopedVirtualClock() { SetHostClock(&clock_); }
  ~ScopedVirtualClock() { SetHostClock(nullptr); }
  ScopedVirtualClock(const ScopedVirtualClock&) = delete;
  ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
  VirtualClock& clock() { return clock_; }

 private:
  VirtualClock clock_;
};
