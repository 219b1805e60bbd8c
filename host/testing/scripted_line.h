// A serial line for unit tests, on the virtual clock: the test schedules what the target sends and
// when, and the line records everything the host did (bytes with their times, breaks, purges,
// settings). Reads block in virtual time exactly as the Windows driver's time-outs say.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/platform/serial_line.h"
#include "host/testing/virtual_clock.h"

// The far end of one scripted port. It outlives the lines opened on it, so a test can look at it
// after the RS232 object is gone.
class ScriptedPort {
 public:
  explicit ScriptedPort(VirtualClock& clock) : clock_(clock) {}

  // The target sends text at virtual time atMs (or delayMs from now).
  void SendAt(uint64_t atMs, const std::string& text);
  void SendAfter(uint64_t delayMs, const std::string& text) { SendAt(clock_.NowMs() + delayMs, text); }
  // Reads fail (with this error number) from virtual time atMs on.
  void FailReadsFrom(uint64_t atMs, int error);
  // Called each time the host clears a break (the target restarts then).
  std::function<void(ScriptedPort&)> onBreak;
  // Called with each write of the host's (a target that echoes, answers).
  std::function<void(ScriptedPort&, const std::string&)> onWrite;
  // The next opens fail with this error number (0: opens succeed).
  int openError = 0;

  // What the host did.
  struct WriteRecord {
    uint64_t atMs;
    std::string bytes;
  };
  std::vector<WriteRecord> writes;
  std::string AllWritten() const;  // all written bytes in order
  struct Break {
    uint64_t onMs;
    uint64_t offMs;
  };
  std::vector<Break> breaks;
  std::vector<unsigned> purges;
  std::vector<std::string> settings;
  uint32_t readConstantMs = 0;
  uint32_t writeConstantMs = 0;
  int opens = 0;
  bool lineOpen = false;

  VirtualClock& clock() { return clock_; }

  // Used by the line.
  size_t Receive(uint8_t* data, size_t length);  // bytes that have arrived by now
  bool NextArrival(uint64_t* atMs) const;        // when the next byte arrives
  bool ReadsFailNow(int* error) const;
  bool FailTime(uint64_t* atMs) const;
  void DropArrived();

 private:
  VirtualClock& clock_;
  std::multimap<uint64_t, std::string> pending_;  // arrival time -> bytes
  uint64_t failFromMs_ = UINT64_MAX;
  int failError_ = 0;
};

// Registers ports by name ("SCRIPT1", "SCRIPT3"...) with the serial line registry for the life of
// the object; opening a name that has no port fails with error 2 (no such file).
class ScriptedPorts {
 public:
  explicit ScriptedPorts(VirtualClock& clock, const std::string& prefix = "SCRIPT");
  ~ScriptedPorts();
  ScriptedPorts(const ScriptedPorts&) = delete;
  ScriptedPorts& operator=(const ScriptedPorts&) = delete;

  ScriptedPort& Add(const std::string& name);
  ScriptedPort& operator[](const std::string& name) { return *ports_.at(name); }

 private:
  VirtualClock& clock_;
  std::string prefix_;
  std::map<std::string, std::unique_ptr<ScriptedPort>> ports_;
};
