// brenlofix-station: one unattended BrenloFix per port, the identities from the ledger, a line of
// progress per board while they run and a table of their records at the end; with --continuous,
// every board put on each port until the station is stopped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ledger/database.h"
#include "ledger/ledger_url.h"
#include "station/board_view.h"
#include "station/page/page_server.h"
#include "station/ledger_client.h"
#include "station/station_instance.h"
#include "station/station_options.h"
#include "station/station_output.h"
#include "station/station_setup.h"
#include "station/supervisor.h"

namespace {

// The program's own path, to find BrenloFix beside it.
std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// The console capture in the file at path from byte `from` on (at most 4 MiB at a time).
std::string CaptureFrom(const std::string& path, size_t from) {
  if (path.empty()) return "";
  std::ifstream in(path, std::ios::binary);
  if (!in.seekg(static_cast<std::streamoff>(from))) return "";
  std::string text(4 << 20, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// Waits for a ledger call at the station's start; false when a stop signal came first (*stopped
// names it).
bool Await(LedgerClient& ledger, uint64_t id, int signals, LedgerClient::Answer* answer, std::string* stopped) {
  for (;;) {
    for (auto& taken : ledger.TakeAnswers(std::chrono::steady_clock::now())) {
      if (taken.id == id) {
        *answer = std::move(taken);
        return true;
      }
    }
    pollfd polled[] = {{ledger.AnswerFd(), POLLIN, 0}, {signals, POLLIN, 0}};
    poll(polled, 2, 200);
    if (polled[1].revents & POLLIN) {
      signalfd_siginfo info{};
      while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo != SIGCHLD) *stopped = strsignal(static_cast<int>(info.ssi_signo));
      }
      if (!stopped->empty()) return false;
    }
  }
}

// The station's start with its ledger: open it, take the station's lease (the lease of its last
// instance on this PC ended first: that one is dead), and settle the runs this station left open
// when it was killed, naming the boards that must be flashed again. False after the reason in words.
bool OpenLedger(LedgerClient& ledger, const std::string& station, const std::string& instance,
                const std::string& previous, int signals) {
  LedgerClient::Answer answer;
  std::string stopped;
  if (!Await(ledger, ledger.Open(kLedgerDeadline), signals, &answer, &stopped)) {
    Say("Stopped (" + stopped + ") before any board was started.");
    return false;
  }
  if (answer.ok) {
    const auto recover = ledger.Call(
        [station, instance, previous](Ledger& ledger, Database& database, std::ostream& out) {
          if (!previous.empty()) ledger.ReleaseLease(station, previous);
          if (!ledger.TakeLease(station, instance, kLeaseDuration)) return false;
          // The runs Recover settles (left open by an instance without a live lease): their boards
          // stopped in the middle unless their record says the run ended well.
          SqlRows open;
          database.Run(std::string("SELECT id, port, record_path FROM runs r WHERE station = ? AND settled IS NULL"
                                   " AND NOT EXISTS (SELECT 1 FROM stations s WHERE s.name = r.station AND"
                                   " s.instance = r.instance AND s.expires > ") +
                           database.NowMilliseconds() + ") ORDER BY id",
                       {station}, &open);
          const bool recovered = ledger.Recover(station);
          for (const SqlRow& row : open) {
            std::string result;
            if (row[2]) {
              std::ifstream in(*row[2]);
              std::stringstream text;
              text << in.rdbuf();
              const auto record = nlohmann::json::parse(text.str(), nullptr, false);
              if (record.is_object() && record.contains("result") && record["result"].is_string()) {
                result = record["result"].get<std::string>();
              }
            }
            if (result != "succeeded") {
              out << "Run " << (row[0] ? *row[0] : "?") << " on " << (row[1] ? *row[1] : std::string("an unknown port"))
                  << " did not end before the station stopped: flash that board again." << std::endl;
            }
          }
          return recovered;
        },
        kLedgerDeadline);
    if (!Await(ledger, recover, signals, &answer, &stopped)) {
      Say("Stopped (" + stopped + ") before any board was started.");
      return false;
    }
  }
  for (const std::string& line : answer.lines) Say("Ledger: " + line);
  if (answer.timedOut) Say("Ledger: Error: the ledger " + ledger.Shown() + " did not answer.");
  if (!answer.ok) Say("Error: the station cannot use the ledger " + ledger.Shown() + "; no board was started.");
  return answer.ok;
}

// The station's end: its lease ended, so that its name is free at once.
void ReleaseLease(LedgerClient& ledger, const std::string& station, const std::string& instance, int signals) {
  // A ledger that did not answer a call is not asked again: the lease runs out by itself.
  if (ledger.Stranded()) return;
  LedgerClient::Answer answer;
  std::string stopped;
  const auto id = ledger.Call([station, instance](Ledger& ledger, Database&,
                                                  std::ostream&) { return ledger.ReleaseLease(station, instance); },
                              std::chrono::milliseconds(500));
  Await(ledger, id, signals, &answer, &stopped);
}

// --keep-page: the page stays up after the batch, so that its boards can be looked at, until a line
// or the end of standard input, or a stop signal.
void KeepPage(const PageServer& page, int signals) {
  Say("The page stays up at " + page.Address() + ": press Enter to end the station.");
  for (;;) {
    pollfd polled[] = {{0, POLLIN, 0}, {signals, POLLIN, 0}};
    if (poll(polled, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (polled[0].revents & POLLNVAL) return;  // no standard input at all
    if (polled[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char text[256];
      const ssize_t got = read(0, text, sizeof text);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || std::memchr(text, '\n', static_cast<size_t>(got))) return;
    }
    if (polled[1].revents & POLLIN) {
      signalfd_siginfo info{};
      while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo != SIGCHLD) return;
      }
    }
  }
}

// The ledger URL in the station's own command line, as every user's ps shows it, with its password
// masked (the guide recommends BRENLOFIX_LEDGER, PGPASSWORD or a .pgpass file instead).
void MaskLedgerArgument(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return;
    char* url = nullptr;
    if (std::strcmp(argv[i], "--ledger") == 0 && i + 1 < argc) {
      url = argv[++i];
    } else if (std::strncmp(argv[i], "--ledger=", 9) == 0) {
      url = argv[i] + 9;
    }
    if (!url) continue;
    const std::string masked = MaskLedgerUrl(url);
    const size_t length = std::strlen(url);
    if (masked == url) continue;
    std::memset(url, 0, length);
    std::memcpy(url, masked.data(), std::min(length, masked.size()));
  }
}

int RunStation(int argc, char* argv[], int signals) {
  // The command line, and everything it names checked before any pair is reserved or run starts.
  std::string error;
  const auto options = ParseStationOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  MaskLedgerArgument(argc, argv);
  if (!options) {
    std::cerr << StationUsage() << error << std::endl;
    return 2;
  }
  if (options->help) {
    std::cout << StationHelp();
    return 0;
  }
  auto setup = MakeStationSetup(*options, SelfPath(), &error);
  if (!setup) {
    std::cerr << error << std::endl;
    return 1;
  }

  // The ledger, with the station's lease and what a killed station left open settled.
  std::unique_ptr<LedgerClient> ledger;
  std::unique_ptr<StationInstance> instance;
  if (const auto url = StationLedgerUrl(*options, setup->records)) {
    auto parsed = ParseLedgerUrl(*url);
    if (!parsed) {
      Say("Error: the station cannot use that ledger; no board was started.");
      return 1;
    }
    std::string previous;
    instance = StationInstance::Make(setup->station, &previous, &error);
    if (!instance) {
      Say(error);
      return 1;
    }
    setup->instance = instance->Name();
    ledger = std::make_unique<LedgerClient>(*parsed);
    if (!OpenLedger(*ledger, setup->station, instance->Name(), previous, signals)) return 1;
  }

  std::vector<std::string> ports;
  for (const BoardSpec& board : setup->boards) ports.push_back(board.port);
  BoardViews views(ports);
  // The page, on the board views (its hooks read them under their mutex); its actions reach the
  // loop through the supervisor while there is one.
  PageServer page;
  std::mutex acting;
  Supervisor* running = nullptr;
  if (options->listen != "none") {
    PageHooks hooks;
    hooks.station = setup->station;
    hooks.records = setup->records;
    hooks.boards = [&views] { return views.All(); };
    hooks.console = [&views](const std::string& port, size_t from) {
      return CaptureFrom(views.Console(port), from);
    };
    hooks.act = [&acting, &running](const std::string& action, const std::string& port, std::string* words) {
      std::lock_guard<std::mutex> lock(acting);
      if (!running) {
        *words = "Error: the station is not running its boards now.";
        return false;
      }
      return running->Ask(action, port, words);
    };
    hooks.log = [](const std::string& line) { Say(line); };
    const std::string tokenFile = setup->records + "/page-token";
    std::string words;
    if (!page.Start(options->listen, hooks, StationLedgerUrl(*options, setup->records).value_or(""), &words) ||
        !page.WriteTokenFile(tokenFile, &words)) {
      Say(words + " No board was started.");
      return 1;
    }
    views.OnChange([&page](const nlohmann::json& board) { page.BoardChanged(board); });
    views.OnConsole([&page](const std::string& port) { page.ConsoleAppended(port, ""); });
    Say("Page: " + page.Address() + " (to stop or start a port from it, give the token " + page.Token() +
        ", also in " + tokenFile + ")");
  }

  const std::string where = "logs in " + setup->images + ", records in " + setup->records +
                            (ledger ? ", ledger " + ledger->Shown() : std::string());
  if (setup->continuous) {
    Say("Flashing every board put on " + std::to_string(ports.size()) + " ports; " + where);
  } else {
    Say("Flashing " + std::to_string(ports.size()) + " boards; " + where);
  }
  const std::string station = setup->station;
  int status;
  bool stopped;
  {
    Supervisor supervisor(std::move(*setup), ledger.get(), signals, &views);
    {
      std::lock_guard<std::mutex> lock(acting);
      running = &supervisor;
    }
    status = supervisor.Run();
    stopped = supervisor.Stopped();
    std::lock_guard<std::mutex> lock(acting);
    running = nullptr;
  }
  if (options->keepPage && !stopped) KeepPage(page, signals);
  page.Stop();
  if (ledger) ReleaseLease(*ledger, station, instance->Name(), signals);
  // A ledger call still held up by the database is not waited for.
  if (ledger && ledger->Stranded()) {
    std::fflush(stdout);
    std::_Exit(status);
  }
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  // A station started with its standard input closed reads /dev/null there: otherwise the first
  // file it opens would take descriptor 0 and --keep-page would read that.
  if (fcntl(0, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
  // The signals the loop answers come through a signalfd: blocked here, before any thread starts,
  // so that every thread leaves them to it.
  sigset_t handled;
  sigemptyset(&handled);
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&handled, number);
  sigprocmask(SIG_BLOCK, &handled, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signals = signalfd(-1, &handled, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signals < 0) {
    std::perror("Error: cannot watch the signals");
    return 1;
  }
  return RunStation(argc, argv, signals);
}
