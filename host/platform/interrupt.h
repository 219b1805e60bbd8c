// A run stopped from outside ends with its own last words instead of dying mid-sentence: Ctrl-C,
// SIGTERM and SIGHUP (its terminal closed) on POSIX; Ctrl-C, Ctrl-Break and closing the console
// window (also logging off and shutting down) on Windows. The handler runs on a thread of its own,
// given what stopped the run, while the program's own thread goes on; the process ends with the
// status the handler returns as soon as it returns, without running anything else.
// A standard output whose reader went away (a closed pipe) never ends the program: what is written
// to it from then on is dropped.
#pragma once

#include <functional>
#include <string>

class InterruptWatch {
 public:
  using Handler = std::function<int(const std::string& how)>;

  // One watch at a time, for the process's main run.
  explicit InterruptWatch(Handler handler);
  // The system's own handling again; a handler already running finishes and ends the process.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
};
