// The ledger as the station's loop uses it: every call runs on one worker thread of its own (the
// database connection lives there), one after another in the order given, and its answer comes back
// to the loop through a descriptor the loop polls. A call has a deadline: one that has not answered
// by then is given up as "timed out" (its late answer is dropped), so a database that hangs (a
// stopped server, a network that drops packets) never holds the loop, Ctrl-C or the other boards.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ledger/database.h"
#include "ledger/ledger.h"

class LedgerClient {
 public:
  using Clock = std::chrono::steady_clock;
  // A call: the ledger's operation; what it prints (result and reason), and what the call writes on
  // out, is the answer's words.
  using Job = std::function<bool(Ledger& ledger, Database& database, std::ostream& out)>;

  struct Answer {
    uint64_t id = 0;
    bool ok = false;
    bool timedOut = false;  // no answer by its deadline (or never run: the worker was held up)
    std::vector<std::string> lines;  // what the ledger printed, result and reasons, in order
  };

  // Opens the ledger at url on the worker; nothing is sent until Open.
  explicit LedgerClient(LedgerUrl url);
  ~LedgerClient();
  LedgerClient(const LedgerClient&) = delete;
  LedgerClient& operator=(const LedgerClient&) = delete;

  // The first call: opens the database and checks it is set up.
  uint64_t Open(std::chrono::milliseconds within);
  uint64_t Call(Job job, std::chrono::milliseconds within);

  // Readable when answers are waiting; the loop polls it.
  int AnswerFd() const { return wake_[0]; }
  // The answers that came, and the calls whose deadline passed by now, each once.
  std::vector<Answer> TakeAnswers(Clock::time_point now);
  // The earliest deadline still running or waiting (for the loop's poll time-out).
  std::optional<Clock::time_point> NextDeadline();
  // Shutting down: no call waits longer than within from now.
  void Hurry(std::chrono::milliseconds within);
  bool Busy();
  // True when the worker is still inside a call that was given up: it cannot be joined, and the
  // process must end without waiting for it (std::_Exit).
  bool Stranded();
  const std::string& Shown() const { return url_.shown; }

 private:
  struct Pending {
    uint64_t id;
    Job job;
    Clock::time_point deadline;
  };
  void Work();
  uint64_t Queue(Job job, std::chrono::milliseconds within);

  LedgerUrl url_;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<Pending> queue_;
  std::optional<Pending> running_;  // its job moved out; id and deadline kept
  bool runningGivenUp_ = false;
  std::vector<Answer> answers_;
  uint64_t nextId_ = 1;
  bool ending_ = false;
  std::thread worker_;
};
