// A port waiting for a board (--continuous): the station reads the line itself, read-only, until a
// board shows itself with its first words (the boot ROM's " BOOTME", or the UBL's first lines when
// it boots from NAND). After a run that did not succeed, the line must first have been quiet for a
// while, so a board left on the jig (a failed one repeating " BOOTME") does not start the next run:
// only a board put on anew does. The line is closed before BrenloFix opens it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// How long a line must be silent before the next board's first words count.
constexpr std::chrono::milliseconds kQuietBeforeNextBoard{3000};

// True when text (the last bytes heard) holds a board's first words.
bool HoldsFirstWords(const std::string& text);

class PortWatch {
 public:
  // wakeFd: written to (one byte) when first words were heard.
  PortWatch(std::string port, bool quietFirst, int wakeFd);
  // Ends the watch without waiting for it: a thread still opening the line (a network serial
  // server that does not answer) finishes on its own and tells nobody.
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

  // First words were heard; the line is closed by then.
  bool Heard() const { return state_->heard; }
  // Why the line cannot be watched now ("" when it can); the watch tries again each second.
  std::string Trouble();

 private:
  struct State {
    std::string port;
    int wakeFd;
    std::atomic<bool> heard{false};
    std::atomic<bool> ending{false};
    std::mutex mutex;  // the trouble, and the wake-up against the watch's end
    std::string trouble;
  };
  static void Watch(const std::shared_ptr<State>& state, bool quietFirst);

  std::shared_ptr<State> state_;
  std::thread thread_;
};
