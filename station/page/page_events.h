// What the page pushes to the browsers (server-sent events): each change gets the next number; a
// stream waits for the numbers after the last one it sent. A stream that fell so far behind that
// its next event was dropped is told to start again from a whole snapshot.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct PageEvent {
  uint64_t number = 0;
  std::string type;  // "board", "console"
  std::string port;
  std::string data;  // one line of JSON
};

class PageEvents {
 public:
  explicit PageEvents(std::size_t kept = 4096) : kept_(kept) {}

  void Publish(const std::string& type, const std::string& port, const std::string& data);
  // The number of the last event published (0 before the first).
  uint64_t Last() const;
  // The events after number `after` into *events, waiting up to `wait` for the first of them.
  // *lost: some of them were dropped already. False once closed.
  bool Wait(uint64_t after, std::chrono::milliseconds wait, std::vector<PageEvent>* events, bool* lost);
  // Every waiting stream ends.
  void Close();

 private:
  const std::size_t kept_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PageEvent> events_;
  uint64_t last_ = 0;
  bool closed_ = false;
};
