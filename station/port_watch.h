// A port waiting for a board (--continuous): the station reads the line itself, read-only, until a
// board shows itself with its first words (the boot ROM's " BOOTME", or the UBL's first lines when
// it boots from NAND). After a run, the line must first have been quiet for a while, so a board left
// on the jig (a failed one repeating " BOOTME") does not start the next run: only a board put on
// anew does. The line is closed before BrenloFix opens it.
#pragma once

#include <atomic>
#include <chrono>
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
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

  bool Heard() const { return heard_; }
  // Why the line cannot be watched now ("" when it can); the watch tries again each second.
  std::string Trouble();

 private:
  void Watch(bool quietFirst);

  std::string port_;
  int wakeFd_;
  std::atomic<bool> heard_{false};
  std::atomic<bool> ending_{false};
  std::mutex mutex_;
  std::string trouble_;
  std::thread thread_;
};
