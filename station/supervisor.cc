#include "station/supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "station/station_output.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTick{500};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : " ") + line;
  return text;
}

// "20140623T090507Z"
std::string Stamp(std::time_t moment) {
  std::tm utc{};
  gmtime_r(&moment, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

std::string SignalName(int number) {
  switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(number);
  }
}

long long Seconds(const StationRun& run) {
  const auto end = run.ended.value_or(std::chrono::system_clock::now());
  return std::chrono::duration_cast<std::chrono::seconds>(end - run.started).count();
}

}  // namespace

Supervisor::Supervisor(StationSetup setup, LedgerClient* ledger, int signals, BoardViews* views)
    : setup_(std::move(setup)), ledger_(ledger), signals_(signals), views_(views) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  redraw_ = isatty(1) != 0;
  for (const BoardSpec& spec : setup_.boards) {
    Port port;
    port.spec = spec;
    port.claim = StationClaim::Make(spec.port, &port.refused);
    ports_.push_back(std::move(port));
  }
}

Supervisor::~Supervisor() {
  for (Port& port : ports_) port.watch.reset();
  close(wake_[0]);
  close(wake_[1]);
}

bool Supervisor::ClaimNames(StationRun& run, int* capture, std::string* words) {
  // Names of the run's own: its start in UTC, one more second while a name is taken. The console
  // capture is made here, so that no other run gets these names.
  const std::string safe = SafePortName(run.port);
  for (std::time_t moment = std::chrono::system_clock::to_time_t(run.started);; ++moment) {
    const std::string stamp = Stamp(moment);
    run.console = setup_.records + "/console-" + safe + "-" + stamp + ".txt";
    run.record = setup_.records + "/record-" + safe + "-" + stamp + ".json";
    struct stat info {};
    if (lstat(run.record.c_str(), &info) == 0) continue;
    *capture = open(run.console.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (*capture >= 0) return true;
    if (errno != EEXIST) {
      *words = "cannot make " + run.console + " (" + std::strerror(errno) + ")";
      return false;
    }
  }
}

void Supervisor::StartRun(Port& port) {
  auto run = std::make_shared<StationRun>();
  run->port = port.spec.port;
  if (port.spec.mac) run->given = Identity{*port.spec.mac, *port.spec.serial};
  run->started = std::chrono::system_clock::now();
  run->began = SteadyClock::now();
  run->sequence = ++runsOpened_;
  port.current = run;
  runs_.push_back(run);
  if (!port.refused.empty()) {
    run->refused = port.refused;
    run->phase = StationRun::Phase::kDone;
    return;
  }
  int capture = -1;
  std::string words;
  if (!ClaimNames(*run, &capture, &words)) {
    run->refused = "Error: " + words + ".";
    run->phase = StationRun::Phase::kDone;
    Fail(words);
    return;
  }
  // The capture exists now, so no other run takes these names; the run's start opens it again.
  close(capture);
  if (!ledger_) {
    Launch(run);
    return;
  }
  Call call{run, CallKind::kOpen, std::make_shared<std::optional<Reservation>>()};
  RunOpening opening{setup_.station, run->port, run->record, RequestKey(*run, "open"), setup_.instance};
  const bool reserve = !run->given;
  auto reserved = call.reserved;
  run->ledgerCall = ledger_->Call(
      [opening, reserve, reserved](Ledger& ledger, Database&, std::ostream&) {
        if (reserve) {
          *reserved = ledger.Reserve(opening);
          return reserved->has_value();
        }
        const auto opened = ledger.OpenRun(opening);
        if (opened) *reserved = Reservation{*opened, "", ""};
        return opened.has_value();
      },
      Deadline());
  call.within = Deadline();
  calls_[run->ledgerCall] = call;
}

void Supervisor::Launch(const std::shared_ptr<StationRun>& run) {
  RunCommand command;
  command.program = setup_.brenlofix;
  command.folder = setup_.images;
  command.environment = setup_.environment;
  command.events = setup_.events;
  command.argv = {"-p", run->port};
  if (run->given) {
    command.argv.insert(command.argv.end(), {"-m", run->given->mac, "-s", run->given->serial});
  } else if (run->fallback) {
    command.argv.insert(command.argv.end(), {"--fallback-identity", run->fallback->mac + "," + run->fallback->serial});
  }
  command.argv.insert(command.argv.end(), {"--unattended", "--report", run->record});
  if (setup_.events) command.argv.insert(command.argv.end(), {"--events", "fd:" + std::to_string(kEventsFd)});
  command.argv.insert(command.argv.end(), setup_.passedOn.begin(), setup_.passedOn.end());
  // The capture is opened again (it was made when the names were claimed): appended to, never
  // written over.
  const int capture = open(run->console.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
  std::string words;
  if (capture < 0) {
    words = "cannot open " + run->console + " (" + std::strerror(errno) + ")";
  } else {
    run->process = RunProcess::Start(command, capture, &words);
  }
  if (!run->process) {
    run->Trouble("its run could not be started: " + words);
    run->ended = std::chrono::system_clock::now();
    run->phase = StationRun::Phase::kSettling;
    Settle(run);
    Fail(words);
    return;
  }
  run->phase = StationRun::Phase::kRunning;
}

void Supervisor::OpenAnswered(const Call& call, const LedgerClient::Answer& answer) {
  StationRun& run = *call.run;
  // A call given up may still be running on the worker: what it reserves is then not read here (the
  // station's next start finds that run open and settles it).
  if (!answer.timedOut && call.reserved->has_value()) {
    run.ledgerRun = (*call.reserved)->run;
    if (!(*call.reserved)->mac.empty()) run.fallback = Identity{(*call.reserved)->mac, (*call.reserved)->serial};
  }
  if (answer.timedOut) {
    const auto within = stopping_ ? std::min(call.within, kLedgerDeadlineStopping) : call.within;
    run.refused = "Error: the ledger " + ledger_->Shown() + " did not answer within " +
                  std::to_string((within.count() + 999) / 1000) + " s; the board was not started.";
  } else if (!answer.ok || !run.ledgerRun) {
    run.refused = answer.lines.empty() ? std::string("the ledger gave no run") : Joined(answer.lines);
  } else if (stopping_) {
    run.refused = "not started: the station was stopped";
  }
  if (!run.refused) {
    Launch(call.run);
    return;
  }
  unlink(run.console.c_str());  // no run, no capture
  run.ended = std::chrono::system_clock::now();
  ListenAgain(call.run);
  if (run.ledgerRun) {
    // A run the ledger opened that never started: settled from no record, its pair to check.
    run.phase = StationRun::Phase::kSettling;
    Settle(call.run);
  } else {
    run.phase = StationRun::Phase::kDone;
  }
}

void Supervisor::Answered(const LedgerClient::Answer& answer) {
  const auto found = calls_.find(answer.id);
  if (found == calls_.end()) return;
  const Call call = found->second;
  calls_.erase(found);
  if (call.kind == CallKind::kRenewLease) {
    renewCall_ = 0;
    // A renewal that went unanswered is tried again at the next; one the ledger refused means
    // another station took the name: the runs going end and settle, but no new board starts.
    if (!answer.ok && !answer.timedOut && !leaseLost_) {
      leaseLost_ = true;
      for (const std::string& line : answer.lines) Say(line);
      Say("Error: station " + setup_.station + " lost its lease in the ledger; no new board is started.");
      for (Port& port : ports_) port.watch.reset();
    }
    return;
  }
  StationRun& run = *call.run;
  const std::string runName = run.ledgerRun ? "run " + std::to_string(*run.ledgerRun) : std::string("its run");
  // A call made before the stop was cut to the stop's second.
  const auto within = stopping_ ? std::min(call.within, kLedgerDeadlineStopping) : call.within;
  const std::string noAnswer = "no answer within " + std::to_string((within.count() + 999) / 1000) + " s";
  switch (call.kind) {
    case CallKind::kOpen:
      OpenAnswered(call, answer);
      break;
    case CallKind::kStore:
      run.storeCall = 0;
      if (answer.timedOut || !answer.ok) {
        run.Trouble("the ledger did not store its record (" + (answer.timedOut ? noAnswer : Joined(answer.lines)) +
                    ")");
      }
      break;
    case CallKind::kSettle:
      run.phase = StationRun::Phase::kDone;
      if (answer.timedOut) {
        run.Trouble("the ledger did not settle " + runName + " (" + noAnswer +
                    "); it stays open, its pair to check, and the station's next start settles it");
      } else {
        run.settled = Joined(answer.lines);
        if (!answer.ok) {
          run.Trouble("the ledger did not settle " + runName + " (" + *run.settled + "); the station's next start does");
        }
      }
      break;
    case CallKind::kRenewLease:
      break;
  }
}

void Supervisor::Settle(const std::shared_ptr<StationRun>& run) {
  if (!ledger_ || !run->ledgerRun) {
    run->phase = StationRun::Phase::kDone;
    return;
  }
  const int64_t number = *run->ledgerRun;
  const std::string record = run->record, key = RequestKey(*run, "settle");
  run->ledgerCall = ledger_->Call(
      [number, record, key](Ledger& ledger, Database&, std::ostream&) { return ledger.Settle(number, record, key); },
      Deadline());
  calls_[run->ledgerCall] = Call{run, CallKind::kSettle, nullptr, Deadline()};
}

void Supervisor::StoreRecord(const std::shared_ptr<StationRun>& run) {
  if (!ledger_ || !run->ledgerRun || run->storeCall) return;
  struct stat info {};
  if (stat(run->record.c_str(), &info) != 0) return;  // not written yet
  // Each write of the record replaces the file: a new inode, time or size is a new record.
  const std::string seen = std::to_string(info.st_ino) + "/" + std::to_string(info.st_mtim.tv_sec) + "." +
                           std::to_string(info.st_mtim.tv_nsec) + "/" + std::to_string(info.st_size);
  if (seen == run->storedSeen) return;
  run->storedSeen = seen;  // a record the ledger refused is not offered again until it changes
  const int64_t number = *run->ledgerRun;
  const std::string record = run->record;
  run->storeCall = ledger_->Call(
      [number, record](Ledger& ledger, Database&, std::ostream&) { return ledger.StoreRecord(number, record); },
      Deadline());
  calls_[run->storeCall] = Call{run, CallKind::kStore, nullptr, Deadline()};
}

std::string Supervisor::RequestKey(const StationRun& run, const char* what) const {
  // Unique to this instance, this run and this call: a call made again after its answer was lost
  // is then recognised by the ledger, never done twice.
  return setup_.instance + "/" + std::to_string(run.sequence) + "/" + what;
}

void Supervisor::RenewLease() {
  if (!ledger_ || setup_.instance.empty() || renewCall_ || leaseLost_) return;
  const std::string station = setup_.station, instance = setup_.instance;
  renewCall_ = ledger_->Call([station, instance](Ledger& ledger, Database&,
                                                 std::ostream&) { return ledger.RenewLease(station, instance); },
                             kLeaseRenewal);
  calls_[renewCall_] = Call{nullptr, CallKind::kRenewLease, nullptr};
}

void Supervisor::Follow(StationRun& run, bool output) {
  if (!output) {
    run.process->ReadEvents(&run.progress);
    return;
  }
  std::string trouble;
  run.process->ReadOutput(&run.progress, &trouble);
  if (!trouble.empty()) {
    run.Trouble(run.console + " could not be written (" + trouble + ")");
    Fail("cannot write " + run.console + " (" + trouble + ")");
  }
}

void Supervisor::EndRun(const std::shared_ptr<StationRun>& run) {
  run->status = run->process->Status();
  run->ended = std::chrono::system_clock::now();
  std::string trouble;
  run->process->CloseCapture(&trouble);
  if (!trouble.empty()) {
    run->Trouble(run->console + " could not be written (" + trouble + ")");
    Fail("cannot write " + run->console + " (" + trouble + ")");
  }
  run->phase = StationRun::Phase::kSettling;
  Settle(run);
  // The port listens for its next board at once, while the run is settled: a board swapped in the
  // meantime is heard from its first words on.
  ListenAgain(run);
}

void Supervisor::ListenAgain(const std::shared_ptr<StationRun>& run) {
  if (!setup_.continuous || stopping_ || leaseLost_) return;
  // A board whose run succeeded runs Linux and says no first words until it is powered anew: the
  // next words are a new board's, however soon it was swapped in (even before the line could be
  // opened again). After any other end the line must first go quiet, so that a board left on the
  // jig repeating " BOOTME" is not flashed again.
  const bool succeeded = run->status && *run->status == 0;
  for (Port& port : ports_) {
    if (port.current == run && !port.watch) WatchPort(port, !succeeded);
  }
}

void Supervisor::StopRun(StationRun& run, const std::string& why) {
  if (run.phase != StationRun::Phase::kRunning || !run.process || run.process->Exited()) return;
  if (!run.stopSent) {
    if (run.stopped.empty()) run.stopped = why;
    run.stopSent = SteadyClock::now();
    run.process->Signal(SIGTERM);
  } else if (SteadyClock::now() - *run.stopSent > kStopGrace) {
    run.Trouble("it did not end within " + std::to_string(kStopGrace.count()) + " s of being stopped and was killed");
    run.process->Signal(SIGKILL);
  }
}

std::chrono::milliseconds Supervisor::Deadline() const {
  if (!stopping_) return kLedgerDeadline;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(stoppedAt_ + kLedgerDeadlineStopping - SteadyClock::now());
  const std::chrono::milliseconds least(ledger_ && ledger_->Stranded() ? 0 : 500);
  return std::max(left, least);
}

void Supervisor::StopAll(const std::string& why) {
  if (!stopping_) {
    stoppedAt_ = SteadyClock::now();
    if (ledger_) ledger_->Hurry(kLedgerDeadlineStopping);
  }
  stopping_ = true;
  for (Port& port : ports_) port.watch.reset();
  for (const auto& run : runs_) StopRun(*run, why);
}

void Supervisor::Fail(const std::string& words) {
  if (!failure_.empty()) return;
  failure_ = words;
  Say("Error: the station cannot go on: " + words + ". Stopping every run; each records where it was.");
  StopAll("interrupted");
}

void Supervisor::Signal(int number) {
  if (number == SIGCHLD) {
    for (const auto& run : runs_) {
      if (run->process) run->process->Reap();
    }
    return;
  }
  if (stopping_ && failure_.empty()) return;
  if (!stopping_) Say("\nStopping every run (" + SignalName(number) + "); each records where it was.");
  StopAll("interrupted");
}

void Supervisor::WatchPort(Port& port, bool quietFirst) {
  if (!port.refused.empty()) return;
  port.watch = std::make_unique<PortWatch>(port.spec.port, quietFirst, wake_[1]);
}

void Supervisor::Tick() {
  for (const auto& run : runs_) {
    if (run->phase != StationRun::Phase::kRunning) continue;
    if (run->process) run->process->Reap();
    if (run->stopSent) {
      StopRun(*run, run->stopped);
    } else if (setup_.timeout && SteadyClock::now() - run->began > *setup_.timeout) {
      StopRun(*run, "timed out");
    }
    StoreRecord(run);
  }
  if (SteadyClock::now() >= nextRenewal_) {
    RenewLease();
    nextRenewal_ = SteadyClock::now() + kLeaseRenewal;
  }
  Show(false);
  UpdateViews();
}

std::string Supervisor::ProgressLine(const Port& port, const StationRun* run, bool withPercent) const {
  std::string state;
  long long seconds = 0;
  const std::string trouble = port.watch ? port.watch->Trouble() : std::string();
  if (!run) {
    state = port.refused.empty() ? "waiting for a board" : "refused";
    if (!trouble.empty()) state += " (" + trouble + ")";
  } else {
    state = RunState(*run, withPercent);
    seconds = Seconds(*run);
    if (setup_.continuous && run->phase == StationRun::Phase::kDone && port.watch) state += "; waiting for the next board";
  }
  char line[512];
  std::snprintf(line, sizeof line, "%-32s %-44s %4lld:%02lld", port.spec.port.c_str(), state.c_str(), seconds / 60,
                seconds % 60);
  return line;
}

void Supervisor::Show(bool final) {
  // The lines: with --continuous one per port; else one per run started.
  std::vector<std::pair<const Port*, const StationRun*>> shown;
  for (const Port& port : ports_) {
    const StationRun* run = port.current.get();
    if (setup_.continuous || (run && !run->refused && run->phase != StationRun::Phase::kOpening) ||
        (run && run->process)) {
      shown.emplace_back(&port, run);
    }
  }
  if (shown.empty()) return;
  std::string text;
  if (redraw_) {
    // A terminal: one line per board, drawn again in place.
    if (drawn_) text = "\033[" + std::to_string(drawn_) + "A";
    for (const auto& [port, run] : shown) text += "\r\033[K" + ProgressLine(*port, run, true) + "\n";
    drawn_ = static_cast<int>(shown.size());
  } else {
    // A pipe or a file: a board's line when its step or state changed.
    for (const auto& [port, run] : shown) {
      const std::string state = run ? RunState(*run, false) + (run->phase == StationRun::Phase::kDone ? "." : "")
                                    : "waiting";
      if (lastShown_[port->spec.port] == state) continue;
      lastShown_[port->spec.port] = state;
      text += ProgressLine(*port, run, false) + "\n";
    }
  }
  (void)final;
  if (!text.empty()) {
    text.pop_back();
    Say(text);
  }
}

void Supervisor::UpdateViews() {
  for (const Port& port : ports_) UpdateView(port);
}

void Supervisor::UpdateView(const Port& port) {
  if (!views_) return;
  const StationRun* run = port.current.get();
  views_->Set(port.spec.port, BoardObject(port.spec.port, run, port.watch != nullptr),
              run && !run->refused ? run->console : "");
}

bool Supervisor::Ask(const std::string& action, const std::string& port, std::string* words) {
  if (action != "stop" && action != "start") {
    *words = "Error: the station can stop a run or start a port again, not '" + action + "'.";
    return false;
  }
  bool known = false;
  for (const Port& one : ports_) known = known || one.spec.port == port;  // the names never change
  if (!known) {
    *words = "Error: the station has no port " + port + ".";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(askedMutex_);
    asked_.emplace_back(action, port);
  }
  const char wake = 'a';
  if (write(wake_[1], &wake, 1) < 0) {
    // The pipe is full: the loop wakes for it anyway.
  }
  *words = action == "stop" ? "The station stops the run on " + port + "."
                            : "The station starts " + port + " again.";
  return true;
}

void Supervisor::DoAsked() {
  std::vector<std::pair<std::string, std::string>> asked;
  {
    std::lock_guard<std::mutex> lock(askedMutex_);
    asked.swap(asked_);
  }
  for (const auto& [action, name] : asked) {
    for (Port& port : ports_) {
      if (port.spec.port != name) continue;
      StationRun* run = port.current.get();
      const bool going = run && run->phase != StationRun::Phase::kDone;
      if (action == "stop") {
        if (going && run->phase == StationRun::Phase::kRunning) {
          Say(name + ": stopped from the page; the run records where it was.");
          StopRun(*run, "interrupted");
        } else {
          Say(name + ": the page asked to stop its run, but none is going.");
        }
      } else if (stopping_ || going) {
        Say(name + ": the page asked to start it again, but " +
            (stopping_ ? std::string("the station is stopping.") : std::string("its run goes on.")));
      } else if (setup_.continuous) {
        if (!port.watch) WatchPort(port, false);
        Say(name + ": waits for the next board again (the page asked).");
      } else {
        Say(name + ": started again from the page.");
        StartRun(port);
      }
      UpdateView(port);
    }
  }
}

bool Supervisor::Finished() const {
  for (const auto& run : runs_) {
    if (run->phase != StationRun::Phase::kDone) return false;
  }
  return !setup_.continuous || stopping_ || leaseLost_;
}

int Supervisor::ExitStatus() const {
  if (!failure_.empty() || leaseLost_) return 1;
  // A continuous station ends when it is stopped: that is its status 0, whatever its boards did
  // (their results are in the table and the ledger). Status 1 is the station's own failure.
  if (setup_.continuous) return 0;
  if (stopping_) return 1;
  for (const auto& run : runs_) {
    if (run->refused || !run->status || *run->status != 0) return 1;
  }
  return 0;
}

int Supervisor::Run() {
  // Each board's run: batch, one per port at once, opened in the ledger in the order given; with
  // --continuous, each port waits for its first board.
  for (Port& port : ports_) {
    if (setup_.continuous) {
      if (!port.refused.empty()) Say(port.spec.port + ": " + port.refused);
      WatchPort(port, false);
    } else {
      StartRun(port);
    }
  }
  nextTick_ = SteadyClock::now();
  nextRenewal_ = nextTick_ + kLeaseRenewal;
  while (!Finished()) {
    try {
      std::vector<pollfd> polled{{signals_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (ledger_) polled.push_back({ledger_->AnswerFd(), POLLIN, 0});
      std::vector<std::pair<StationRun*, bool>> followed;
      for (const auto& run : runs_) {
        if (run->phase != StationRun::Phase::kRunning || !run->process) continue;
        if (run->process->OutputFd() >= 0) {
          polled.push_back({run->process->OutputFd(), POLLIN, 0});
          followed.emplace_back(run.get(), true);
        }
        if (run->process->EventsFd() >= 0) {
          polled.push_back({run->process->EventsFd(), POLLIN, 0});
          followed.emplace_back(run.get(), false);
        }
      }
      auto wakeAt = nextTick_;
      if (ledger_) {
        const auto deadline = ledger_->NextDeadline();
        if (deadline && *deadline < wakeAt) wakeAt = *deadline;
      }
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - SteadyClock::now()).count();
      if (poll(polled.data(), polled.size(), static_cast<int>(std::max<long long>(0, wait) + 1)) < 0 &&
          errno != EINTR) {
        Fail(std::string("cannot wait for the runs (") + std::strerror(errno) + ")");
      }

      if (polled[0].revents & POLLIN) {
        signalfd_siginfo info{};
        while (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
          Signal(static_cast<int>(info.ssi_signo));
        }
      }
      const size_t first = ledger_ ? 3 : 2;
      for (size_t i = 0; i < followed.size(); ++i) {
        if (!(polled[first + i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Follow(*followed[i].first, followed[i].second);
        // A run's events (or, from a BrenloFix without them, its output) reach the page at once,
        // not at the next tick; its console is told of at the tick.
        if (followed[i].second && setup_.events) continue;
        for (const Port& port : ports_) {
          if (port.current.get() == followed[i].first) UpdateView(port);
        }
      }
      // A run opened or settled by the ledger, started or ended reaches the page at once too, not at
      // the next tick: a run's end shows when it is settled.
      bool moved = false;
      if (ledger_) {
        for (const auto& answer : ledger_->TakeAnswers(SteadyClock::now())) {
          Answered(answer);
          moved = true;
        }
      }
      if (polled[1].revents & POLLIN) {
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
        DoAsked();
      }
      for (Port& port : ports_) {
        if (port.watch && port.watch->Heard() && !stopping_) {
          port.watch.reset();  // the line closed before BrenloFix opens it
          StartRun(port);
          moved = true;
        }
      }
      // Runs that ended: their exit status, their output read to its end.
      for (const auto& run : runs_) {
        if (run->phase != StationRun::Phase::kRunning || !run->process) continue;
        run->process->Reap();
        if (run->process->Ended()) {
          EndRun(run);
          moved = true;
        }
      }
      if (moved) UpdateViews();
      if (SteadyClock::now() >= nextTick_) {
        Tick();
        nextTick_ = SteadyClock::now() + kTick;
      }
    } catch (const std::exception& error) {
      Fail(std::string("an internal error (") + error.what() + ")");
    }
  }
  Show(true);
  UpdateViews();

  // The table, from the records: every run since the start.
  std::vector<const StationRun*> listed;
  for (const auto& run : runs_) listed.push_back(run.get());
  Say("");
  for (const std::string& line : RunTable(listed)) Say(line);
  return ExitStatus();
}
