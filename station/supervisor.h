// The station's one loop: every run's output and events, the signals (through a signalfd), the
// timers (progress, time-outs, the grace of a stopped run), the ledger's answers and, with
// --continuous, the ports that wait for their next board. Nothing in it waits for a database, a
// child or a line: each of them answers through a descriptor the loop polls.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/board_view.h"
#include "station/ledger_client.h"
#include "station/port_watch.h"
#include "station/station_claim.h"
#include "station/station_options.h"
#include "station/station_run.h"

struct StationSetup {
  std::vector<BoardSpec> boards;
  std::string brenlofix;
  std::string images;   // absolute
  std::string records;  // absolute
  std::string station;  // its name in the ledger
  std::string instance;  // this station's instance, which holds its lease in the ledger
  std::vector<std::string> passedOn;     // what every run is given after its own options
  std::vector<std::string> environment;  // every run's environment
  bool events = false;                   // BrenloFix writes events
  bool continuous = false;
  std::optional<std::chrono::milliseconds> timeout;
};

// How long a ledger call may take while the station goes (the ledger's own limits fail a call
// within a statement's time-out or 30 s of reconnecting; this is the backstop), and once it is
// stopping.
constexpr std::chrono::milliseconds kLedgerDeadline{60000};
constexpr std::chrono::milliseconds kLedgerDeadlineStopping{1000};
// The station's lease in the ledger: how long it lasts, and how often it is renewed.
constexpr std::chrono::milliseconds kLeaseDuration{30000};
constexpr std::chrono::milliseconds kLeaseRenewal{10000};
// How long a stopped run has to write its record and end before it is killed.
constexpr std::chrono::seconds kStopGrace{15};

class Supervisor {
 public:
  // ledger: null without one. signals: a signalfd for SIGINT, SIGTERM, SIGHUP and SIGCHLD (blocked
  // in every thread).
  Supervisor(StationSetup setup, LedgerClient* ledger, int signals, BoardViews* views);
  ~Supervisor();
  Supervisor(const Supervisor&) = delete;
  Supervisor& operator=(const Supervisor&) = delete;

  // Runs every board (or, --continuous, every board put on each port until a stop), prints the
  // table and gives the station's exit status.
  int Run();

  // After Run: whether the station was stopped (a stop signal, or a fault it could not go on after)
  // rather than every run ending by itself.
  bool Stopped() const { return stopping_; }

  // Any thread (the page): "stop" the port's run, or "start" the port again (batch: a new run;
  // --continuous: the port waits for its next board); the loop does it and says so. False with
  // the reason in *words for an action or a port the station does not have.
  bool Ask(const std::string& action, const std::string& port, std::string* words);

 private:
  struct Port {
    BoardSpec spec;
    std::unique_ptr<StationClaim> claim;
    std::string refused;  // the claim could not be made
    std::shared_ptr<StationRun> current;
    std::unique_ptr<PortWatch> watch;
  };
  enum class CallKind { kOpen, kStore, kSettle, kRenewLease };
  struct Call {
    std::shared_ptr<StationRun> run;
    CallKind kind;
    std::shared_ptr<std::optional<Reservation>> reserved;  // kOpen
    std::chrono::milliseconds within{0};                    // its deadline, from when it was made
  };

  void StartRun(Port& port);
  void Launch(const std::shared_ptr<StationRun>& run);
  bool ClaimNames(StationRun& run, int* capture, std::string* words);
  void OpenAnswered(const Call& call, const LedgerClient::Answer& answer);
  void Answered(const LedgerClient::Answer& answer);
  void Follow(StationRun& run, bool output);
  void Tick();
  void RenewLease();
  std::string RequestKey(const StationRun& run, const char* what) const;
  void EndRun(const std::shared_ptr<StationRun>& run);
  void Settle(const std::shared_ptr<StationRun>& run);
  void StoreRecord(const std::shared_ptr<StationRun>& run);
  void StopRun(StationRun& run, const std::string& why);
  void StopAll(const std::string& why);
  // The station itself cannot go on (a file it cannot write, an internal error): every run stops.
  void Fail(const std::string& words);
  void Signal(int number);
  void WatchPort(Port& port, bool quietFirst);
  // --continuous: the run's port waits for its next board.
  void ListenAgain(const std::shared_ptr<StationRun>& run);
  void Show(bool final);
  void UpdateViews();
  void UpdateView(const Port& port);
  // What the page asked since the last time.
  void DoAsked();
  bool Finished() const;
  int ExitStatus() const;
  // A ledger call's time: once stopping, whatever is left of the second after the stop (a call
  // made later, once the runs have ended, gets half a second while the ledger still answers).
  std::chrono::milliseconds Deadline() const;
  std::string ProgressLine(const Port& port, const StationRun* run, bool withPercent) const;

  StationSetup setup_;
  LedgerClient* ledger_;
  int signals_;
  BoardViews* views_;
  int wake_[2] = {-1, -1};  // the port watches' first words
  std::vector<Port> ports_;
  std::vector<std::shared_ptr<StationRun>> runs_;  // every run since the start, in order
  std::map<uint64_t, Call> calls_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point stoppedAt_;
  std::string failure_;
  bool redraw_ = false;
  int drawn_ = 0;
  std::map<std::string, std::string> lastShown_;
  std::chrono::steady_clock::time_point nextTick_;
  std::chrono::steady_clock::time_point nextRenewal_;
  uint64_t renewCall_ = 0;
  bool leaseLost_ = false;  // no new board is started then
  int runsOpened_ = 0;      // for the request keys
  std::mutex askedMutex_;
  std::vector<std::pair<std::string, std::string>> asked_;  // action, port
};
