#include "host/platform/timer_resolution.h"

// POSIX sleeps are already fine-grained.
ScopedTimerResolution::ScopedTimerResolution() = default;
ScopedTimerResolution::~ScopedTimerResolution() = default;
