// The host's one source of time. Every time-out and pause of the protocol code goes through
// HostClock(), so that tests can put a virtual clock in its place and run a 280-second boot
// watch in milliseconds.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since some start, 32-bit like GetTickCount: callers take unsigned differences,
  // so a wrap does no harm.
  virtual uint32_t TickMs() = 0;
  // Pauses the program; open serial lines keep draining their device meanwhile.
  virtual void SleepMs(uint32_t ms) = 0;
};

// The clock in force: the system clock unless a test installed another one.
Clock& HostClock();

// Installs a clock for the whole process; nullptr puts the system clock back.
void SetHostClock(Clock* clock);

// The operating system's own tick counter and sleep.
Clock& SystemClock();

// Work to do while the system clock sleeps (the POSIX serial backend drains its device into a
// user-space queue here, since Linux's tty buffer holds only 4 KiB). One pump at a time; nullptr
// removes it. The pump is called with the milliseconds left to sleep and must return within them.
using SleepPump = void (*)(void* context, uint32_t msLeft);
void SetSleepPump(SleepPump pump, void* context);
