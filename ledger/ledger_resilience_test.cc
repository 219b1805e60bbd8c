// The ledger when things go wrong around it: a server that stops answering, a commit whose answer
// is lost, a server restarting under a settle, two stations of one name, a pair given away while
// its run was taken for dead. On a PostgreSQL server of the test's own (and leases on SQLite too).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

#include "ledger/ledger.h"
#include "ledger/testing/postgres_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A database whose answer to one COMMIT is lost: the server commits, then the connection is cut
// (its backend terminated from another connection) before the ledger hears of it.
class AnswerLosingDatabase final : public Database {
 public:
  AnswerLosingDatabase(std::unique_ptr<Database> inner, std::unique_ptr<Database> admin)
      : inner_(std::move(inner)), admin_(std::move(admin)) {}

  bool loseNextCommit = false;
  int commitsLost = 0;

  bool Run(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) override {
    lost_ = false;
    return inner_->Run(sql, params, rows);
  }
  bool BeginWrite() override {
    lost_ = false;
    return inner_->BeginWrite();
  }
  bool Commit() override {
    lost_ = false;
    if (!loseNextCommit) return inner_->Commit();
    loseNextCommit = false;
    SqlRows backend;
    if (!inner_->Run("SELECT pg_backend_pid()", {}, &backend) || !inner_->Commit()) return false;
    SqlRows terminated;
    EXPECT_TRUE(admin_->Run("SELECT pg_terminate_backend(CAST(? AS INTEGER))", {backend.at(0).at(0)}, &terminated))
        << admin_->Error();
    ++commitsLost;
    lost_ = true;
    return false;
  }
  void Rollback() override { inner_->Rollback(); }
  bool LastFailureIsTransient() const override { return lost_ || inner_->LastFailureIsTransient(); }
  bool LastFailureIsMissingTable() const override { return inner_->LastFailureIsMissingTable(); }
  const std::string& Error() const override { return lost_ ? lostWords_ : inner_->Error(); }
  const char* AutoIdColumn() const override { return inner_->AutoIdColumn(); }
  const char* SkipLockedRows() const override { return inner_->SkipLockedRows(); }
  const char* NowMilliseconds() const override { return inner_->NowMilliseconds(); }

 private:
  std::unique_ptr<Database> inner_;
  std::unique_ptr<Database> admin_;
  bool lost_ = false;
  const std::string lostWords_ = "server closed the connection unexpectedly";
};

// A run's record as BrenloFix writes it: ended, with the identity written (or not).
std::string WriteRecord(const fs::path& folder, const std::string& name, bool written, const std::string& mac,
                        const std::string& serial) {
  const std::string path = (folder / name).string();
  std::ofstream(path) << R"({"result": "succeeded", "exitStatus": 0, "identity": {"read": null, "programmed": )"
                      << R"({"ethaddr": ")" << mac << R"(", "serialno": ")" << serial << R"("}, "written": )"
                      << (written ? "true" : "false") << "}}";
  return path;
}

class LedgerOnServer : public testing::Test {
 protected:
  // One server for the suite (initdb takes seconds), a database of its own for each test.
  static void SetUpTestSuite() {
    std::string error;
    server_ = PostgresServer::Start(false, &error).release();
    ASSERT_TRUE(server_) << error;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(server_);
    std::string name = std::string("resilience_") + testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string text = server_->NewDatabase(name.substr(0, 63));
    ASSERT_FALSE(text.empty());
    url_ = *ParseLedgerUrl(text);
    folder_ = fs::temp_directory_path() / ("ledger-resilience-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    auto setup = Open({});
    Ledger ledger(*setup, url_.shown, out_, err_);
    ASSERT_TRUE(ledger.Init() && ledger.AddMacs({0x021B4D001000, 0x021B4D00100F}) &&
                ledger.AddSerials({"QV4N1501", 1, 16, 6}))
        << err_.str();
    out_.str("");
  }
  void TearDown() override {
    if (server_) {
      server_->SignalAll(SIGCONT);
      server_->StartAgain();  // after a test that stopped it (a running server stays as it is)
    }
    fs::remove_all(folder_);
  }

  std::unique_ptr<Database> Open(const DatabaseLimits& limits) {
    auto database = OpenDatabase(url_, false, limits, err_);
    EXPECT_TRUE(database) << err_.str();
    return database;
  }
  long long Count(Database& database, const std::string& sql) {
    SqlRows rows;
    EXPECT_TRUE(database.Run(sql, {}, &rows)) << database.Error();
    return rows.empty() ? -1 : std::stoll(*rows[0][0]);
  }

  static PostgresServer* server_;
  LedgerUrl url_;
  fs::path folder_;
  std::ostringstream out_, err_;
};

PostgresServer* LedgerOnServer::server_ = nullptr;

TEST_F(LedgerOnServer, AStoppedServerFailsTheCallWithinItsDeadline) {
  DatabaseLimits limits;
  limits.statement = milliseconds(1000);
  limits.reconnect = milliseconds(2000);
  limits.connectSeconds = 2;
  auto database = Open(limits);
  Ledger ledger(*database, url_.shown, out_, err_);
  ASSERT_TRUE(ledger.IsSetUp());
  ASSERT_TRUE(server_->SignalAll(SIGSTOP));
  const auto start = Clock::now();
  EXPECT_FALSE(ledger.Reserve({"line-1", "COM3", std::nullopt}));
  const auto took = Clock::now() - start;
  ASSERT_TRUE(server_->SignalAll(SIGCONT));
  // The answer's wait (1 s + 2 s), then connecting again for up to 2 s, each attempt up to 2 s.
  EXPECT_GE(took, milliseconds(3000));
  EXPECT_LT(took, milliseconds(9000));
  EXPECT_NE(err_.str().find("Error: the ledger " + url_.shown + " failed: "), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("the server did not answer within 3 s; it could not be made again within 2 s: "),
            std::string::npos)
      << err_.str();
  // The server goes on: the same ledger makes its connection again, and nothing was reserved twice.
  err_.str("");
  const auto reserved = ledger.Reserve({"line-1", "COM3", std::nullopt});
  ASSERT_TRUE(reserved) << err_.str();
  EXPECT_EQ(Count(*database, "SELECT COUNT(*) FROM identities WHERE state = 'reserved'"), 2);
}

TEST_F(LedgerOnServer, ACommitWhoseAnswerIsLostIsDoneOnce) {
  AnswerLosingDatabase database(Open({}), Open({}));
  Ledger ledger(database, url_.shown, out_, err_);
  database.loseNextCommit = true;
  const auto reserved = ledger.Reserve({"line-1", "COM3", std::nullopt, std::string("board-1-reserve")});
  ASSERT_TRUE(reserved) << err_.str();
  EXPECT_EQ(database.commitsLost, 1);
  EXPECT_EQ(Count(database, "SELECT COUNT(*) FROM runs"), 1);
  EXPECT_EQ(Count(database, "SELECT COUNT(*) FROM identities WHERE state = 'reserved'"), 2);
  EXPECT_EQ(out_.str(), std::to_string(reserved->run) + " 02:1B:4D:00:10:00,QV4N1501000001\n");

  // The caller itself asks again with the same key (its own answer was lost): the same run.
  const auto again = ledger.Reserve({"line-1", "COM3", std::nullopt, std::string("board-1-reserve")});
  ASSERT_TRUE(again);
  EXPECT_EQ(std::make_tuple(again->run, again->mac, again->serial),
            std::make_tuple(reserved->run, reserved->mac, reserved->serial));
  EXPECT_EQ(Count(database, "SELECT COUNT(*) FROM runs"), 1);
  // A key is one request's: another kind of request under it is refused.
  EXPECT_FALSE(ledger.OpenRun({"line-1", "COM4", std::nullopt, std::string("board-1-reserve")}));
  EXPECT_NE(err_.str().find("was given to a request of another kind (reserve)"), std::string::npos) << err_.str();

  // A settle whose answer is lost: settled once, its words the same when asked again.
  const std::string record = WriteRecord(folder_, "board-1.json", true, reserved->mac, reserved->serial);
  out_.str("");
  database.loseNextCommit = true;
  ASSERT_TRUE(ledger.Settle(reserved->run, record, std::string("board-1-settle"))) << err_.str();
  EXPECT_EQ(database.commitsLost, 2);
  const std::string said = out_.str();
  EXPECT_EQ(said, "Run " + std::to_string(reserved->run) +
                      ": 02:1B:4D:00:10:00 bound, QV4N1501000001 bound.\n");
  out_.str("");
  ASSERT_TRUE(ledger.Settle(reserved->run, record, std::string("board-1-settle")));
  EXPECT_EQ(out_.str(), said);
  // Opening a run: the same.
  database.loseNextCommit = true;
  const auto opened = ledger.OpenRun({"line-1", "COM4", std::nullopt, std::string("board-2-open")});
  ASSERT_TRUE(opened) << err_.str();
  EXPECT_EQ(Count(database, "SELECT COUNT(*) FROM runs"), 2);
}

TEST_F(LedgerOnServer, ASettleDuringARestartWaitsForTheServer) {
  auto database = Open({});
  Ledger ledger(*database, url_.shown, out_, err_);
  const auto reserved = ledger.Reserve({"line-1", "COM3", std::nullopt});
  ASSERT_TRUE(reserved);
  const std::string record = WriteRecord(folder_, "board-1.json", true, reserved->mac, reserved->serial);
  ASSERT_TRUE(server_->Stop());
  const auto start = Clock::now();
  auto settled = std::async(std::launch::async, [&] { return ledger.Settle(reserved->run, record); });
  std::this_thread::sleep_for(milliseconds(1500));
  ASSERT_TRUE(server_->StartAgain());
  EXPECT_TRUE(settled.get()) << err_.str();
  EXPECT_GE(Clock::now() - start, milliseconds(1500));
  EXPECT_NE(out_.str().find("02:1B:4D:00:10:00 bound, QV4N1501000001 bound."), std::string::npos) << out_.str();

  // With the server down for longer than the ledger waits, the call fails in words.
  DatabaseLimits limits;
  limits.reconnect = milliseconds(1500);
  limits.connectSeconds = 2;
  auto impatient = Open(limits);
  Ledger other(*impatient, url_.shown, out_, err_);
  ASSERT_TRUE(server_->Stop());
  const auto stopped = Clock::now();
  EXPECT_FALSE(other.Reserve({"line-1", "COM3", std::nullopt}));
  EXPECT_LT(Clock::now() - stopped, milliseconds(6000));
  EXPECT_NE(err_.str().find("could not be made again within 1.5 s: "), std::string::npos) << err_.str();
}

TEST_F(LedgerOnServer, ASettleOfAPairGivenAwayFailsAndTheAuditTells) {
  auto database = Open({});
  Ledger ledger(*database, url_.shown, out_, err_);
  // Station line-1 is taken for dead while its run 1 goes on: its pair to check, then put back.
  const auto first = ledger.Reserve({"line-1", "COM3", std::nullopt});
  ASSERT_TRUE(first);
  ASSERT_TRUE(ledger.Recover("line-1"));
  ASSERT_TRUE(ledger.Resolve(first->mac, false) && ledger.Resolve(first->serial, false));
  const auto second = ledger.Reserve({"line-2", "COM1", std::nullopt});
  ASSERT_TRUE(second);
  ASSERT_EQ(second->mac, first->mac);
  // Run 1 ends, the pair written on its board: two boards may carry it.
  err_.str("");
  EXPECT_FALSE(ledger.Settle(first->run, WriteRecord(folder_, "r1.json", true, first->mac, first->serial)));
  const std::string words = "run " + std::to_string(first->run) + " wrote " + first->mac +
                            " to its board, but the ledger had given it to run " + std::to_string(second->run);
  EXPECT_NE(err_.str().find("Error: " + words + ": two boards may carry it"), std::string::npos) << err_.str();
  out_.str("");
  EXPECT_FALSE(ledger.Audit());
  EXPECT_NE(out_.str().find(words + "."), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Audit of 2 runs: 2 problems."), std::string::npos) << out_.str();
}

// A server that asks for the password: the ledger leaves it to libpq, which takes it from
// PGPASSWORD, from a .pgpass file, or from the URL; no way is broken by the ledger's own settings.
TEST(LedgerWithAPassword, LibpqFindsItWhereverItIsGiven) {
  const std::string password = "pa/ss@w?rd%:1";
  std::string error;
  const auto server = PostgresServer::Start(false, &error, password);
  ASSERT_TRUE(server) << error;
  const std::string text = server->NewDatabase("secured");
  ASSERT_FALSE(text.empty());
  const LedgerUrl url = *ParseLedgerUrl(text);
  auto opens = [&](const LedgerUrl& which) {
    std::ostringstream out, err;
    auto database = OpenDatabase(which, false, {}, err);
    const bool ready = database && Ledger(*database, which.shown, out, err).Init();
    EXPECT_EQ(err.str().find("pa/ss"), std::string::npos) << err.str();
    return ready;
  };
  unsetenv("PGPASSWORD");
  setenv("PGPASSFILE", "/nonexistent/.pgpass", 1);
  EXPECT_FALSE(opens(url));
  setenv("PGPASSWORD", password.c_str(), 1);
  EXPECT_TRUE(opens(url));
  unsetenv("PGPASSWORD");
  // A .pgpass file: host:port:database:user:password, ':' and '\' in a field escaped.
  const fs::path passFile = fs::temp_directory_path() / ("ledger-pgpass-" + std::to_string(getpid()));
  std::ofstream(passFile) << "*:*:secured:ledger:pa/ss@w?rd%\\:1\n";
  fs::permissions(passFile, fs::perms::owner_read | fs::perms::owner_write);
  setenv("PGPASSFILE", passFile.c_str(), 1);
  EXPECT_TRUE(opens(url));
  unsetenv("PGPASSFILE");
  fs::remove(passFile);
  // In the URL, percent-encoded as PostgreSQL reads URLs, and shown masked.
  const LedgerUrl inUrl =
      *ParseLedgerUrl("postgresql://ledger:pa%2Fss%40w%3Frd%25%3A1@" + text.substr(std::string("postgresql://").size()));
  EXPECT_EQ(inUrl.shown.find("pa%2F"), std::string::npos) << inUrl.shown;
  EXPECT_TRUE(opens(inUrl));
}

// On SQLite, a writer held up by another gives up after the statement limit, in SQLite's words.
TEST(LedgerOnSqlite, AWriterHeldUpByAnotherGivesUpInWords) {
  const fs::path folder = fs::temp_directory_path() / ("ledger-busy-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const LedgerUrl url = *ParseLedgerUrl("sqlite:" + (folder / "ledger.sqlite").string());
  std::ostringstream out, err;
  auto holder = OpenDatabase(url, true, {}, err);
  ASSERT_TRUE(holder);
  Ledger setup(*holder, url.shown, out, err);
  ASSERT_TRUE(setup.Init() && setup.AddMacs({0x021B4D001000, 0x021B4D00100F}) && setup.AddSerials({"S", 1, 9, 1}));
  DatabaseLimits limits;
  limits.statement = milliseconds(500);
  auto waiting = OpenDatabase(url, false, limits, err);
  ASSERT_TRUE(waiting);
  Ledger ledger(*waiting, url.shown, out, err);
  ASSERT_TRUE(holder->BeginWrite());
  const auto start = Clock::now();
  EXPECT_FALSE(ledger.Reserve({"line-1", "COM3", std::nullopt}));
  EXPECT_GE(Clock::now() - start, milliseconds(500));
  EXPECT_LT(Clock::now() - start, milliseconds(3000));
  EXPECT_NE(err.str().find("failed: database is locked"), std::string::npos) << err.str();
  holder->Rollback();
  EXPECT_TRUE(ledger.Reserve({"line-1", "COM3", std::nullopt})) << err.str();
  waiting.reset();
  holder.reset();
  fs::remove_all(folder);
}

// Leases on both databases: each has its own clock in SQL.
class StationLeases : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("ledger-leases-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    std::string text = "sqlite:" + (folder_ / "ledger.sqlite").string();
    if (GetParam() == "postgresql") {
      std::string error;
      server_ = PostgresServer::Start(false, &error);
      ASSERT_TRUE(server_) << error;
      text = server_->NewDatabase("leases");
    }
    url_ = *ParseLedgerUrl(text);
    database_ = OpenDatabase(url_, true, {}, err_);
    ASSERT_TRUE(database_);
    ledger_ = std::make_unique<Ledger>(*database_, url_.shown, out_, err_);
    ASSERT_TRUE(ledger_->Init() && ledger_->AddMacs({0x021B4D001000, 0x021B4D00100F}) &&
                ledger_->AddSerials({"S", 1, 16, 2}));
  }
  void TearDown() override {
    ledger_.reset();
    database_.reset();
    server_.reset();
    fs::remove_all(folder_);
  }
  std::string State(const std::string& value) {
    SqlRows rows;
    EXPECT_TRUE(database_->Run("SELECT state FROM identities WHERE value = ?", {value}, &rows));
    return rows.empty() ? "" : *rows[0][0];
  }

  fs::path folder_;
  std::unique_ptr<PostgresServer> server_;
  LedgerUrl url_;
  std::ostringstream out_, err_;
  std::unique_ptr<Database> database_;
  std::unique_ptr<Ledger> ledger_;
};

TEST_P(StationLeases, ALiveStationKeepsItsNameAndItsRuns) {
  Ledger& ledger = *ledger_;
  const std::string first = NewUniqueKey(), second = NewUniqueKey();
  ASSERT_NE(first, second);
  ASSERT_TRUE(ledger.TakeLease("line-1", first, milliseconds(1500))) << err_.str();
  const auto run = ledger.Reserve({"line-1", "COM3", std::nullopt, std::nullopt, first});
  ASSERT_TRUE(run);
  // A second station of that name is refused at its start; the first one's run stays its own.
  EXPECT_FALSE(ledger.TakeLease("line-1", second, milliseconds(1500)));
  EXPECT_NE(err_.str().find("Error: a station named line-1 is running already"), std::string::npos) << err_.str();
  EXPECT_TRUE(ledger.Recover("line-1"));
  EXPECT_NE(out_.str().find("1 run of station line-1 belong to a live station of that name"), std::string::npos)
      << out_.str();
  EXPECT_EQ(State(run->mac), "reserved");
  // Renewed, the lease outlasts its first term.
  std::this_thread::sleep_for(milliseconds(1000));
  EXPECT_TRUE(ledger.RenewLease("line-1", first));
  std::this_thread::sleep_for(milliseconds(800));
  EXPECT_FALSE(ledger.TakeLease("line-1", second, milliseconds(1500)));
  out_.str("");
  ledger.Status();
  EXPECT_NE(out_.str().find("Station line-1 is running"), std::string::npos) << out_.str();

  // Not renewed, it runs out: the name is free, and the run is recovered.
  std::this_thread::sleep_for(milliseconds(1700));
  ASSERT_TRUE(ledger.TakeLease("line-1", second, milliseconds(1500))) << err_.str();
  EXPECT_TRUE(ledger.Recover("line-1"));
  EXPECT_EQ(State(run->mac), "check");
  // The first instance learns that it lost its lease.
  err_.str("");
  EXPECT_FALSE(ledger.RenewLease("line-1", first));
  EXPECT_NE(err_.str().find("no longer holds its lease"), std::string::npos) << err_.str();
  // A station that ends frees its name at once.
  EXPECT_TRUE(ledger.ReleaseLease("line-1", second));
  EXPECT_TRUE(ledger.TakeLease("line-1", first, milliseconds(1500))) << err_.str();
}

INSTANTIATE_TEST_SUITE_P(Databases, StationLeases, testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// Two threads of one program, each with its own connection and Ledger (as the station runs its
// ledger calls off its loop), share the pools.
TEST_P(StationLeases, ThreadsWithAConnectionEachShareThePools) {
  std::vector<std::future<std::vector<std::string>>> threads;
  for (int thread = 0; thread < 2; ++thread) {
    threads.push_back(std::async(std::launch::async, [this] {
      std::ostringstream out, err;
      auto database = OpenDatabase(url_, false, {}, err);
      std::vector<std::string> macs;
      if (!database) return macs;
      Ledger ledger(*database, url_.shown, out, err);
      for (int i = 0; i < 8; ++i) {
        const auto reserved = ledger.Reserve({"line-1", "COM" + std::to_string(i), std::nullopt});
        if (reserved) macs.push_back(reserved->mac);
      }
      return macs;
    }));
  }
  std::set<std::string> all;
  for (auto& thread : threads) {
    for (const std::string& mac : thread.get()) EXPECT_TRUE(all.insert(mac).second) << mac << " twice";
  }
  EXPECT_EQ(all.size(), 16u);
}

}  // namespace
