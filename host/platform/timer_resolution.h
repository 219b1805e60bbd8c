// A 1 ms system timer for the run. Windows ticks at 15.6 ms by default, which would turn the 10 ms
// pauses of paced typing into 15.6 ms and make the environment take half again as long.
#pragma once

class ScopedTimerResolution {
 public:
  ScopedTimerResolution();   // timeBeginPeriod(1) on Windows; nothing elsewhere
  ~ScopedTimerResolution();  // timeEndPeriod(1)
  ScopedTimerResolution(const ScopedTimerResolution&) = delete;
  ScopedTimerResolution& operator=(const ScopedTimerResolution&) = delete;

 private:
  [[maybe_unused]] bool active_ = false;  // used on Windows only
};
