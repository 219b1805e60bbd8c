#include <windows.h>

#include "host/platform/clock.h"

namespace {

class Win32Clock : public Clock {
 public:
  uint32_t TickMs() override { return GetTickCount(); }
  // The serial driver keeps receiving into its own queue while the program sleeps.
  void SleepMs(uint32_t ms) override { Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

void SetSleepPump(SleepPump, void*) {}
