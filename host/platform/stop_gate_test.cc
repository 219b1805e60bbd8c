// The gate between a run's thread and the interruption that ends it: a write under way ends before
// the gate is shut, none begins after, and the interruption's own thread still passes.
#include "host/platform/stop_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using std::chrono::milliseconds;

TEST(StopGateTest, AnActUnderWayEndsFirstAndNoneBeginsAfter) {
  // Outlives the test: the run's thread waits at the shut gate for good, as for the process's end.
  static StopGate gate;
  std::atomic<int> actsBegun{0}, actsEnded{0};
  std::atomic<bool> firstActHeld{false};
  std::thread run([&] {
    for (;;) {
      StopGate::Act act(gate);
      ++actsBegun;
      if (actsBegun == 1) {
        firstActHeld = true;
        std::this_thread::sleep_for(milliseconds(200));  // a break on the line
      }
      ++actsEnded;
    }
  });
  run.detach();
  while (!firstActHeld) std::this_thread::sleep_for(milliseconds(1));

  EXPECT_TRUE(gate.Shut(5000));
  EXPECT_TRUE(gate.IsShut());
  EXPECT_GE(actsEnded.load(), 1);  // the break ended before the gate was shut
  const int begun = actsBegun.load();
  EXPECT_EQ(actsEnded.load(), begun);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(actsBegun.load(), begun);  // nothing more reached the line

  StopGate::Act last(gate);  // the interruption's own log line
  SUCCEED();
}

TEST(StopGateTest, AShutThatGaveUpWaitingStillStopsTheNextAct) {
  static StopGate gate;
  std::atomic<bool> held{false}, release{false};
  std::atomic<int> actsBegun{0};
  std::thread run([&] {
    for (;;) {
      StopGate::Act act(gate);
      ++actsBegun;
      held = true;
      while (!release) std::this_thread::sleep_for(milliseconds(1));  // a write that hangs
    }
  });
  run.detach();
  while (!held) std::this_thread::sleep_for(milliseconds(1));

  EXPECT_FALSE(gate.Shut(50));
  release = true;
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(actsBegun.load(), 1);
}

}  // namespace
