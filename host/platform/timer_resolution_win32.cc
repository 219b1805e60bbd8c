#include <windows.h>
#include <mmsystem.h>

#include "host/platform/timer_resolution.h"

ScopedTimerResolution::ScopedTimerResolution() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

ScopedTimerResolution::~ScopedTimerResolution() {
  if (active_) timeEndPeriod(1);
}
