// Each port's board as others see it (the page's /api/boards and its live updates): a snapshot the
// station's loop writes and any other thread reads, under a mutex, so that nothing that reads it
// ever holds the loop.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "station/station_run.h"

// The board object of a port: its run (null while it waits for its first board); waiting: the port
// waits for the next board.
nlohmann::json BoardObject(const std::string& port, const StationRun* run, bool waiting);

class BoardViews {
 public:
  explicit BoardViews(const std::vector<std::string>& ports);

  // The loop: a port's board changed. Told on to the listener when it differs from the last one.
  void Set(const std::string& port, nlohmann::json board, const std::string& console);
  // Anyone: every port's board, in the order of the ports.
  nlohmann::json All() const;
  // The console capture of the port's current run ("" when none).
  std::string Console(const std::string& port) const;
  // Called (on the loop's thread, outside the mutex) with each changed board.
  void OnChange(std::function<void(const nlohmann::json&)> changed) { changed_ = std::move(changed); }
  // Called (the same way) when a port's console may have grown: its board changed, its capture is
  // another, or its run goes on (then at most every 200 ms).
  void OnConsole(std::function<void(const std::string& port)> grown) { grown_ = std::move(grown); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> ports_;
  std::vector<nlohmann::json> boards_;
  std::vector<std::string> consoles_;
  std::vector<std::chrono::steady_clock::time_point> noticed_;  // the console last told of
  std::function<void(const nlohmann::json&)> changed_;
  std::function<void(const std::string&)> grown_;
};
