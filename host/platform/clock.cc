#include "host/platform/clock.h"

namespace {

Clock* installedClock = nullptr;

}  // namespace

Clock& HostClock() { return installedClock ? *installedClock : SystemClock(); }

void SetHostClock(Clock* clock) { installedClock = clock; }
