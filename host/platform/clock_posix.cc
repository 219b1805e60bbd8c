#include <time.h>

#include "host/platform/clock.h"

namespace {

SleepPump sleepPump = nullptr;
void* sleepPumpContext = nullptr;

uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

class PosixClock : public Clock {
 public:
  uint32_t TickMs() override { return static_cast<uint32_t>(MonotonicMs()); }

  void SleepMs(uint32_t ms) override {
    const uint64_t end = MonotonicMs() + ms;
    for (;;) {
      const uint64_t now = MonotonicMs();
      if (now >= end) return;
      const uint32_t left = static_cast<uint32_t>(end - now);
      if (sleepPump) {
        sleepPump(sleepPumpContext, left);
      } else {
        timespec pause{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
      }
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

void SetSleepPump(SleepPump pump, void* context) {
  sleepPump = pump;
  sleepPumpContext = context;
}
