// One run of BrenloFix on one port, as the station keeps it from its opening in the ledger to its
// row in the table.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/run_process.h"
#include "station/run_progress.h"

struct StationRun {
  enum class Phase {
    kOpening,   // waiting for the ledger's run (and pair)
    kRunning,   // BrenloFix goes
    kSettling,  // ended; waiting for the ledger to settle it
    kDone,
  };

  std::string port;
  std::optional<Identity> given;  // --board PORT=MAC,SERIAL
  Phase phase = Phase::kOpening;
  std::string console;  // console-PORT-TIME.txt
  std::string record;   // record-PORT-TIME.json
  std::chrono::system_clock::time_point started;
  std::chrono::steady_clock::time_point began;  // the same moment, for its time-out
  std::optional<std::chrono::system_clock::time_point> ended;

  // In the ledger: the run's number, the pair reserved for a board given without an identity, why
  // the run could not be opened (the board is then not started), what settling it said.
  std::optional<int64_t> ledgerRun;
  std::optional<Identity> fallback;
  std::optional<std::string> refused;
  std::optional<std::string> settled;
  int sequence = 0;              // the station's count of its runs, for the ledger's request keys
  uint64_t ledgerCall = 0;       // the call the run waits for (open or settle)
  uint64_t storeCall = 0;        // a record being stored
  std::string storedSeen;        // the record file as last offered (inode, time, size)

  std::unique_ptr<RunProcess> process;
  std::optional<int> status;
  std::string stopped;  // why the station stopped it: "timed out", "interrupted"
  std::optional<std::chrono::steady_clock::time_point> stopSent;
  std::vector<std::string> troubles;  // what went wrong while following it, for its lines
  RunProgress progress;

  void Trouble(const std::string& words) {
    for (const std::string& known : troubles) {
      if (known == words) return;
    }
    troubles.push_back(words);
  }
};

// The table of the runs, from their records, and the lines under it (each run's error, what the
// ledger did with it, what went wrong while the station followed it).
std::vector<std::string> RunTable(const std::vector<const StationRun*>& runs);

// A run's state in a few words for its progress line: "step 4 ProgramEnvironment 42%", "succeeded".
std::string RunState(const StationRun& run, bool withPercent);
