#include "host/platform/stop_gate.h"

#include <chrono>

namespace {

[[noreturn]] void WaitForTheEnd() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

StopGate::Act::Act(StopGate& gate) : gate_(gate) {
  if (gate_.shut_.load() && gate_.shutBy_.load() == std::this_thread::get_id()) return;
  gate_.mutex_.lock();
  // Shut while this thread waited for the act before it (a shut that gave up waiting for it).
  if (gate_.shut_.load() && gate_.shutBy_.load() != std::this_thread::get_id()) {
    gate_.mutex_.unlock();
    WaitForTheEnd();
  }
  held_ = true;
}

StopGate::Act::~Act() {
  if (held_) gate_.mutex_.unlock();
}

bool StopGate::Shut(uint32_t waitMs) {
  shutBy_.store(std::this_thread::get_id());
  // Taken and never given back: every later act waits at the lock.
  const bool quiet = mutex_.try_lock_for(std::chrono::milliseconds(waitMs));
  shut_.store(true);
  return quiet;
}

StopGate& RunStopGate() {
  static StopGate gate;
  return gate;
}
