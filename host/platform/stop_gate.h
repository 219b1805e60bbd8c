// The run's own thread and an interruption's thread: the interruption stops the run where it
// stands before it ends the run's record and the process, so that nothing the run does lands on
// the board, in the log or in the record after the record says how the run ended. The run's
// thread holds the gate for every act that changes the board or the log (a write to the port, a
// break, a log line); once the gate is shut, such an act waits for the end of the process instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class StopGate {
 public:
  // Held for one act; waits forever when the gate is shut (the process is about to end).
  class Act {
   public:
    explicit Act(StopGate& gate);
    ~Act();
    Act(const Act&) = delete;
    Act& operator=(const Act&) = delete;

   private:
    StopGate& gate_;
    bool held_ = false;
  };

  // Shuts the gate: waits at most waitMs for an act under way to end, and lets no act begin after.
  // The thread that shut it passes freely from then on (the interruption's own last log line).
  // True when no act was under way any more; false when the wait ran out.
  bool Shut(uint32_t waitMs);
  bool IsShut() const { return shut_.load(); }

 private:
  std::timed_mutex mutex_;
  std::atomic<bool> shut_{false};
  std::atomic<std::thread::id> shutBy_{};
};

// The gate of the process's run.
StopGate& RunStopGate();
