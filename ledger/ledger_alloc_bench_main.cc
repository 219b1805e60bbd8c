// Allocation latency of the identity ledger with eight stations at once, on SQLite (a file on the
// disk, synced at every commit) and on a PostgreSQL server of its own (with its commits synced too).
// Each station reserves, writes its run's record and settles it (written or not at random); only
// the reservations are timed. Two loads:
//   burst    every station reserves at the same moment (as stations that start their boards
//            together), then all settle; round after round
//   flood    every station reserves and settles again and again without a pause, far beyond any
//            factory's pace: the machine's cores are the limit
// and three ways of calling:
//   command  brenlofix-ledger reserve, a process with a connection of its own for each command
//   session  the command sent to brenlofix-ledger serve, which the station keeps running
//   library  Ledger::Reserve on a connection the station keeps open
//
//   ledger_alloc_bench [--stations N] [--allocations N] [--folder DIR]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <vector>

#include "ledger/ledger.h"
#include "ledger/testing/postgres_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTargetP99Ms = 50.0;

struct Setup {
  int stations = 8;
  int allocations = 200;
  std::string folder;
  std::string program;  // brenlofix-ledger
};

enum class How { kCommand, kSession, kLibrary };
const char* HowName(How how) {
  return how == How::kCommand ? "command" : how == How::kSession ? "session" : "library";
}

// Starts brenlofix-ledger with the arguments, its standard output into a pipe (*out), its standard
// input from one (*in) when asked. Its process, 0 when it did not start.
pid_t StartLedger(const Setup& setup, const std::string& url, std::vector<std::string> arguments, int* out,
                  int* in) {
  arguments.insert(arguments.begin(), {setup.program, "--ledger", url});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int output[2], input[2] = {-1, -1};
  if (pipe(output) != 0 || (in && pipe(input) != 0)) return 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  if (in) {
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addclose(&actions, input[1]);
  }
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) child = 0;
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  *out = output[0];
  if (in) {
    close(input[0]);
    *in = input[1];
  }
  return child;
}

// Runs brenlofix-ledger with the arguments; its standard output, empty when it failed.
std::string RunLedger(const Setup& setup, const std::string& url, const std::vector<std::string>& arguments) {
  int out = -1;
  const pid_t child = StartLedger(setup, url, arguments, &out, nullptr);
  std::string text;
  char buffer[256];
  for (ssize_t n; child && (n = read(out, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  close(out);
  int status = 0;
  if (child) waitpid(child, &status, 0);
  return child && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "";
}

// A station's connection to the ledger, one of the three ways.
class StationLedger {
 public:
  StationLedger(const Setup& setup, const std::string& url, How how, int number)
      : setup_(setup),
        url_(url),
        how_(how),
        random_(static_cast<unsigned>(number)),
        station_("station" + std::to_string(number)),
        record_(setup.folder + "/record-" + std::to_string(number) + ".json") {
    if (how_ == How::kSession) {
      int out = -1, in = -1;
      if (StartLedger(setup, url, {"serve"}, &out, &in)) {
        fromSession_ = fdopen(out, "r");
        toSession_ = fdopen(in, "w");
      }
    } else if (how_ == How::kLibrary) {
      const auto parsed = ParseLedgerUrl(url);
      database_ = OpenDatabase(*parsed, false);
      if (database_) ledger_ = std::make_unique<Ledger>(*database_, parsed->shown, quiet_);
    }
  }

  // Milliseconds; negative when it failed.
  double Reserve() {
    const auto began = Clock::now();
    if (how_ == How::kLibrary) {
      const auto reserved = ledger_ ? ledger_->Reserve({station_, std::nullopt, std::nullopt}) : std::nullopt;
      if (!reserved) return -1;
      reserved_ = *reserved;
    } else {
      const std::string said = Command({"reserve", "--station", station_});
      const size_t blank = said.find(' '), comma = said.find(',');
      if (blank == std::string::npos || comma == std::string::npos) return -1;
      reserved_ = {std::stoll(said.substr(0, blank)), said.substr(blank + 1, comma - blank - 1),
                   said.substr(comma + 1, said.find('\n') - comma - 1)};
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - began).count();
  }

  // The run writes its identity or not, at random.
  bool Settle() {
    const bool written = random_() % 2;
    std::ofstream(record_) << "{\"result\": \"" << (written ? "succeeded" : "failed")
                           << "\", \"identity\": {\"read\": null, \"programmed\": {\"ethaddr\": \""
                           << reserved_.mac << "\", \"serialno\": \"" << reserved_.serial
                           << "\"}, \"written\": " << (written ? "true" : "false") << "}}";
    if (how_ == How::kLibrary) return ledger_->Settle(reserved_.run, record_);
    return !Command({"settle", std::to_string(reserved_.run), record_}).empty();
  }

 private:
  // A command's output, empty when it failed.
  std::string Command(const std::vector<std::string>& words) {
    if (how_ == How::kCommand) return RunLedger(setup_, url_, words);
    if (!toSession_ || !fromSession_) return "";
    std::string line = "[";
    for (const std::string& word : words) line += (line.size() > 1 ? ", \"" : "\"") + word + "\"";
    std::fputs((line + "]\n").c_str(), toSession_);
    std::fflush(toSession_);
    std::string said;
    char text[1024];
    while (std::fgets(text, sizeof text, fromSession_)) {
      if (text[0] == '=') return std::string(text) == "=0\n" ? said : "";
      said += text;
    }
    return "";
  }

  const Setup& setup_;
  std::string url_;
  How how_;
  std::mt19937 random_;
  std::string station_;
  std::string record_;
  std::FILE* toSession_ = nullptr;
  std::FILE* fromSession_ = nullptr;
  std::ostream quiet_{nullptr};
  std::unique_ptr<Database> database_;
  std::unique_ptr<Ledger> ledger_;
  Reservation reserved_;
};

// One station as a process: with a burst, it waits for the go (a byte on go) before each
// reservation and each settling, and says it is done (a byte on done). Its times, one a line,
// into the file times.
[[noreturn]] void Station(const Setup& setup, const std::string& url, How how, bool burst, int number, int go,
                          int done, const std::string& times) {
  StationLedger ledger(setup, url, how, number);
  std::ofstream out(times);
  char byte = 0;
  for (int i = 0; i < setup.allocations; ++i) {
    if (burst && read(go, &byte, 1) != 1) _exit(1);
    const double ms = ledger.Reserve();
    if (ms < 0) _exit(1);
    out << ms << "\n";
    if (burst && (write(done, &byte, 1) != 1 || read(go, &byte, 1) != 1)) _exit(1);
    if (!ledger.Settle()) _exit(1);
    if (burst && write(done, &byte, 1) != 1) _exit(1);
  }
  out.close();
  _exit(0);
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  const size_t at = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

// All stations at once; false when one of them failed. Prints one line of the table.
bool Measure(const Setup& setup, const std::string& name, const std::string& url, How how, bool burst,
             double* p99) {
  int go[2], done[2];
  if (pipe(go) != 0 || pipe(done) != 0) return false;
  std::vector<pid_t> stations;
  for (int i = 0; i < setup.stations; ++i) {
    const std::string times = setup.folder + "/times-" + std::to_string(i);
    const pid_t child = fork();
    if (child == 0) Station(setup, url, how, burst, i, go[0], done[1], times);
    stations.push_back(child);
  }
  // Each round's reservations start together, and so do its settlings.
  const std::string all(static_cast<size_t>(setup.stations), 'g');
  bool ok = true;
  for (int phase = 0; burst && ok && phase < 2 * setup.allocations; ++phase) {
    ok = write(go[1], all.data(), all.size()) == static_cast<ssize_t>(all.size());
    char byte;
    for (int i = 0; ok && i < setup.stations; ++i) ok = read(done[0], &byte, 1) == 1;
  }
  close(go[1]);
  close(done[0]);
  for (pid_t station : stations) {
    int status = 0;
    waitpid(station, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  close(go[0]);
  close(done[1]);
  if (!ok) {
    std::cout << name << ": a station failed" << std::endl;
    return false;
  }
  std::vector<double> times;
  for (int i = 0; i < setup.stations; ++i) {
    std::ifstream in(setup.folder + "/times-" + std::to_string(i));
    for (double ms; in >> ms;) times.push_back(ms);
  }
  std::sort(times.begin(), times.end());
  *p99 = Percentile(times, 0.99);
  std::printf("%-6s %-8s %-11s %6zu %8.1f %8.1f %8.1f %8.1f\n", burst ? "burst" : "flood", HowName(how),
              name.c_str(), times.size(), Percentile(times, 0.5), Percentile(times, 0.9), *p99, times.back());
  std::fflush(stdout);
  return true;
}

bool Prepare(const Setup& setup, const std::string& url) {
  return !RunLedger(setup, url, {"init"}).empty() &&
         !RunLedger(setup, url, {"add-macs", "02:1B:4D:00:10:00", "02:1B:4D:00:5E:1F"}).empty() &&
         !RunLedger(setup, url, {"add-serials", "QV4N1501", "000001", "020000"}).empty();
}

}  // namespace

int main(int argc, char* argv[]) {
  Setup setup;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--stations") setup.stations = std::atoi(argv[i + 1]);
    if (option == "--allocations") setup.allocations = std::atoi(argv[i + 1]);
    if (option == "--folder") setup.folder = argv[i + 1];
  }
  setup.program = (fs::read_symlink("/proc/self/exe").parent_path() / "brenlofix-ledger").string();
  // The SQLite file on the disk, as a station keeps it (not in memory).
  const fs::path scratch = setup.folder.empty() ? fs::current_path() : fs::path(setup.folder);
  setup.folder = (scratch / ("ledger-bench-" + std::to_string(getpid()))).string();
  fs::create_directories(setup.folder);

  std::string error;
  auto server = PostgresServer::Start(true, &error);
  if (!server) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  std::printf("Reservations of %d stations, %d each; milliseconds\n", setup.stations, setup.allocations);
  std::printf("%-6s %-8s %-11s %6s %8s %8s %8s %8s\n", "load", "how", "ledger", "count", "p50", "p90", "p99",
              "max");
  double worst = 0;
  bool ok = true;
  int databases = 0;
  for (const bool burst : {true, false}) {
    for (const How how : {How::kCommand, How::kSession, How::kLibrary}) {
      const std::string name = "ledger" + std::to_string(++databases);
      const std::string sqlite = "sqlite:" + setup.folder + "/" + name + ".sqlite";
      const std::string postgresql = server->NewDatabase(name);
      for (const auto& [kind, url] : {std::pair{"sqlite", sqlite}, std::pair{"postgresql", postgresql}}) {
        double p99 = 0;
        ok = ok && Prepare(setup, url) && Measure(setup, kind, url, how, burst, &p99);
        if (how == How::kSession) worst = std::max(worst, p99);
      }
    }
  }
  fs::remove_all(setup.folder);
  if (!ok) return 1;
  std::printf("The station's way (session): p99 %.1f ms at worst, %s %.0f ms.\n", worst,
              worst <= kTargetP99Ms ? "within" : "OVER", kTargetP99Ms);
  return worst <= kTargetP99Ms ? 0 : 1;
}
