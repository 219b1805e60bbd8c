// What the page reads from the ledger: the runs (a page of them, or CSV as brenlofix-ledger runs
// --csv writes it), one run with its record, the yield of a period, the step times and the counts
// /metrics gives. Each call opens its own connection on the HTTP thread that asks, never the
// station's; a call that fails counts as a ledger error and answers in words, never with the
// database's own message (which may quote a URL).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger.h"

// A run's steps as its record tells them, kept once the record is final.
struct RunSteps {
  struct Step {
    int number = 0;
    std::string name;
    std::string result;
    int attempts = 0;
    double seconds = 0;
  };
  std::vector<Step> steps;
  std::string error;  // the record's error words
  bool final = false;
  bool retried = false;  // a step needed more than one attempt
};

// The step times of a period: each step's successful times, in seconds.
using StepTimes = std::map<std::pair<int, std::string>, std::vector<double>>;

class PageLedger {
 public:
  // url: "" for a station without a ledger. log: takes the reason of each failure, a line with
  // every password masked (the database's own words, for the station's output).
  PageLedger(std::string url, std::function<void(const std::string&)> log);

  bool Configured() const { return !url_.empty(); }
  uint64_t Errors() const { return errors_; }

  // {"total", "runs": [{"run", "station", "port", "started", "result", "exit", "failedStep",
  // "serial", "mac", "pool", "log"}]}, newest first as the filter says.
  std::optional<nlohmann::json> Runs(const RunFilter& filter, std::string* words);
  std::optional<std::string> RunsCsv(const RunFilter& filter, std::string* words);
  // {"run": (as in Runs), "record": the record or null, "earlier": the other runs of its serial
  // number and MAC address, newest first}; null when the ledger holds no such run.
  std::optional<nlohmann::json> Run(int64_t run, std::string* words);
  // {"station", "recordPath"} as the run was reserved (recordPath null when none was named); null
  // when the ledger holds no such run.
  std::optional<nlohmann::json> RunFiles(int64_t run, std::string* words);
  // {"steps": [{"step", "name", "median", "count"}]}: the station's recent successful steps.
  std::optional<nlohmann::json> StepMedians(const std::optional<std::string>& station, std::string* words);
  // The period from the day `from` to the day `to` (both included, UTC dates).
  std::optional<nlohmann::json> Yield(const std::string& from, const std::string& to,
                                      const std::optional<std::string>& station, std::string* words);

  struct Counts {
    std::map<std::pair<std::string, std::string>, int64_t> runs;  // (result, failing step) -> runs
    StepTimes steps;
    std::vector<std::tuple<std::string, std::string, int64_t>> freeValues;  // pool, kind, free
  };
  std::optional<Counts> MetricsCounts(const std::optional<std::string>& station, std::string* words);

 private:
  struct Connection;
  // A connection of the calling thread's own to a ledger that is set up; empty after *words.
  std::unique_ptr<Connection> Open(std::string* words);
  bool Failed(Connection* connection, std::string* words, const std::string& what);
  // The steps of each run (from the cache for final records).
  std::map<int64_t, RunSteps> Steps(Connection& connection, const std::vector<int64_t>& runs, bool* ok);

  const std::string url_;
  const std::function<void(const std::string&)> log_;
  std::atomic<uint64_t> errors_{0};
  std::mutex cacheMutex_;
  std::map<int64_t, RunSteps> cache_;
};

// Nearest-rank percentile of sorted values (p in 0..100); median: the mean of the middle two.
double Percentile(const std::vector<double>& sorted, double p);
double Median(const std::vector<double>& sorted);
// Seconds since 1970 of "2014-06-23T09:05:07.045Z"; empty for anything else.
std::optional<double> UtcSeconds(const std::string& text);
