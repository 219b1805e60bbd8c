// Eight stations taking identities from one ledger at once, 500 runs each, every run's identity
// written to its board or not at random; and a ninth station killed with SIGKILL in the middle of
// its work, whose runs the next start of that station resolves. On SQLite and on a PostgreSQL
// server of the test's own, which at the end restarts under a connection that stays open. What
// each simulated board got is in its run's record file; the ledger must agree with every one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "ledger/ledger.h"
#include "ledger/testing/postgres_server.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The sanitizers' build runs each station several times slower: it checks the same paths, the kill
// mid-run included, with fewer runs; the optimised build keeps the interleavings of 500 a station.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr int kStations = 8;
constexpr int kRunsPerStation = kSanitized ? 150 : 500;
constexpr int kPoolSize = 5000;

// Written as BrenloFix writes its records: whole, then renamed over the old one.
void WriteRecord(const std::string& path, const Json& record) {
  std::ofstream(path + ".tmp") << record.dump();
  fs::rename(path + ".tmp", path);
}

Json Record(const std::string& result, bool written, const Json& read, const Json& programmed) {
  return {{"result", result},
          {"identity", {{"read", read}, {"programmed", programmed}, {"written", written}}}};
}

// One station, as a process of its own: each run reserves, its record is written at the start, at
// the end of the environment step and at the end, and the station settles it. A third of the
// boards fail before the environment step; a third keep an identity of their own.
[[noreturn]] void Station(const LedgerUrl& url, const std::string& name, int runs, unsigned seed,
                          const std::string& folder) {
  const auto database = OpenDatabase(url, false);
  if (!database) _exit(2);
  std::ostream quiet(nullptr);
  Ledger ledger(*database, url.shown, quiet);
  std::mt19937 random(seed);
  for (int i = 0; i < runs; ++i) {
    const std::string path = folder + "/" + name + "-" + std::to_string(i) + ".json";
    const auto reserved = ledger.Reserve({name, "port" + std::to_string(i), path});
    if (!reserved) _exit(3);
    const int board = static_cast<int>(random() % 3);
    const Json own{{"ethaddr", "0A:00:00:00:00:01"}, {"serialno", "OWN-" + name + "-" + std::to_string(i)}};
    const Json read = board == 2 ? own : Json();
    const Json programmed =
        board == 2 ? own : Json{{"ethaddr", reserved->mac}, {"serialno", reserved->serial}};
    WriteRecord(path, Record("running", false, read, nullptr));
    if (board != 1) WriteRecord(path, Record("running", true, read, programmed));
    WriteRecord(path, board == 1 ? Record("failed", false, read, nullptr)
                                 : Record("succeeded", true, read, programmed));
    if (!ledger.Settle(reserved->run, path)) _exit(4);
  }
  _exit(0);
}

pid_t StartStation(const LedgerUrl& url, const std::string& name, int runs, unsigned seed,
                   const std::string& folder) {
  const pid_t child = fork();
  if (child == 0) Station(url, name, runs, seed, folder);
  return child;
}

// What the board of a run holds, from its record file alone: "bound" (the reserved pair),
// "returned" (not written, or the board's own), "check" (the record cannot tell yet).
std::string BoardTruth(const std::string& path, const std::string& reservedMac) {
  std::ifstream in(path);
  if (!in) return "check";
  const Json record = Json::parse(in);
  const Json& identity = record["identity"];
  if (identity["written"] == true) {
    return identity["programmed"]["ethaddr"] == reservedMac ? "bound" : "returned";
  }
  return record["result"] == "running" ? "check" : "returned";
}

class LedgerConcurrency : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    // The disk's speed is not under test: SQLite's file lives in memory where there is a tmpfs.
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    folder_ = base / ("ledger-test-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    std::string text = "sqlite:" + (folder_ / "ledger.sqlite").string();
    if (GetParam() == "postgresql") {
      std::string error;
      server_ = PostgresServer::Start(false, &error);
      ASSERT_TRUE(server_) << error;
      text = server_->NewDatabase("stations");
      ASSERT_FALSE(text.empty());
    }
    url_ = *ParseLedgerUrl(text);
    database_ = OpenDatabase(url_, true);
    ASSERT_TRUE(database_);
    ledger_ = std::make_unique<Ledger>(*database_, url_.shown, out_);
    ASSERT_TRUE(ledger_->Init());
    ASSERT_TRUE(ledger_->AddMacs({0x021B4D001000, 0x021B4D001000 + kPoolSize - 1}));
    ASSERT_TRUE(ledger_->AddSerials({"QV4N1501", 1, kPoolSize, 6}));
  }
  void TearDown() override {
    ledger_.reset();
    database_.reset();
    server_.reset();
    fs::remove_all(folder_);
  }

  SqlRows Query(const std::string& sql) {
    SqlRows rows;
    EXPECT_TRUE(database_->Run(sql, {}, &rows)) << database_->Error();
    return rows;
  }

  fs::path folder_;
  std::unique_ptr<PostgresServer> server_;
  LedgerUrl url_;
  std::unique_ptr<Database> database_;
  std::ostringstream out_;
  std::unique_ptr<Ledger> ledger_;
};

TEST_P(LedgerConcurrency, EightStationsAndOneKilledNeverShareAnIdentity) {
  const std::string records = folder_ / "records";
  fs::create_directories(records);
  std::vector<pid_t> stations;
  for (int i = 0; i < kStations; ++i) {
    stations.push_back(
        StartStation(url_, "station" + std::to_string(i), kRunsPerStation, 1000u + i, records));
  }
  // The ninth is killed at some moment of its 30th to 40th run, whatever it is doing then.
  const pid_t killed = StartStation(url_, "killed", kRunsPerStation, 77, records);
  std::mt19937 random(static_cast<unsigned>(getpid()));
  const int killAt = 30 + static_cast<int>(random() % 10);
  int status = 0;
  while (!fs::exists(records + "/killed-" + std::to_string(killAt) + ".json") &&
         waitpid(killed, &status, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
  kill(killed, SIGKILL);
  waitpid(killed, &status, 0);
  for (pid_t station : stations) {
    int ended = 0;
    ASSERT_EQ(waitpid(station, &ended, 0), station);
    EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0) << "a station failed: " << ended;
  }
  ASSERT_TRUE(WIFSIGNALED(status)) << "the station to kill ended before: " << status;

  // The killed station starts again.
  ASSERT_TRUE(ledger_->Recover("killed")) << out_.str();

  // Every run against its board. Released values may have gone to later runs.
  std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>>
      identities;  // -> state, run
  for (const SqlRow& row : Query("SELECT kind, value, state, COALESCE(run, 0) FROM identities")) {
    identities[{*row[0], *row[1]}] = {*row[2], *row[3]};
  }
  std::map<std::string, int> truths;
  std::set<std::string> boundMacs, boundSerials, reservedMacs, reservedSerials, toCheck;
  for (const SqlRow& row : Query("SELECT id, mac, serial, record_path, station FROM runs")) {
    const std::string& run = *row[0];
    const std::string truth = BoardTruth(*row[3], *row[1]);
    ++truths[truth];
    reservedMacs.insert(*row[1]);
    reservedSerials.insert(*row[2]);
    if (*row[4] != "killed") {
      EXPECT_NE(truth, "check") << "run " << run << " of a station that ended";
    }
    for (const auto& [kind, value] : {std::pair{"mac", *row[1]}, std::pair{"serial", *row[2]}}) {
      const auto& [state, holder] = identities.at({kind, value});
      if (truth == "bound") {
        EXPECT_EQ(std::make_pair(state, holder), std::make_pair(std::string("written"), run)) << value;
        EXPECT_TRUE((kind == std::string("mac") ? boundMacs : boundSerials).insert(value).second)
            << value << " is on two boards";
      } else if (truth == "check") {
        EXPECT_EQ(std::make_pair(state, holder), std::make_pair(std::string("check"), run)) << value;
        toCheck.insert(value);
      } else if (*row[4] == "killed" && state == "check" && holder == run) {
        toCheck.insert(value);  // ended unwritten, but its station was killed before it settled the run
      } else {
        EXPECT_NE(holder, run) << value << " stays with run " << run << " that did not write it";
      }
    }
  }
  EXPECT_GE(truths["bound"] + truths["returned"] + truths["check"], kStations * kRunsPerStation + killAt);
  EXPECT_GT(truths["returned"], kStations * kRunsPerStation / 4);
  // Released values were handed out again: the lowest free one goes first, so no more values were
  // ever taken than the boards keep plus one for each station at work.
  EXPECT_LE(reservedMacs.size(), boundMacs.size() + toCheck.size() + kStations + 1);
  EXPECT_LE(reservedSerials.size(), boundSerials.size() + toCheck.size() + kStations + 1);
  EXPECT_TRUE(ledger_->Audit()) << out_.str();

  // Values to check are never handed out again.
  for (int i = 0; i < 4; ++i) {
    const auto reserved = ledger_->Reserve({"after", std::nullopt, std::nullopt});
    ASSERT_TRUE(reserved);
    EXPECT_FALSE(toCheck.count(reserved->mac) || toCheck.count(reserved->serial));
    EXPECT_FALSE(boundMacs.count(reserved->mac) || boundSerials.count(reserved->serial));
  }

  // A connection kept open (brenlofix-ledger serve) outlives a restart of the server.
  if (server_) {
    ASSERT_TRUE(server_->Restart());
    EXPECT_TRUE(ledger_->Reserve({"after", std::nullopt, std::nullopt}));
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, LedgerConcurrency, testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

}  // namespace
