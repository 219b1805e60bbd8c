// The ledger in one SQLite file (Debian's libsqlite3): WAL mode, so that readers never wait for the
// writer; every write transaction takes the write lock at its start (BEGIN IMMEDIATE); a commit is
// on the disk before it returns (synchronous FULL), as a reservation lost to a power cut could be
// handed out twice.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "ledger/database.h"

namespace {

class SqliteDatabase final : public Database {
 public:
  SqliteDatabase(sqlite3* db, std::chrono::milliseconds busyLimit) : db_(db), busyLimit_(busyLimit) {
    sqlite3_busy_handler(db_, &SqliteDatabase::WaitWhileBusy, this);
  }
  ~SqliteDatabase() override { sqlite3_close(db_); }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  bool Run(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) override {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
      return Fail();
    }
    for (size_t i = 0; i < params.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      if (params[i]) {
        sqlite3_bind_text(statement, index, params[i]->data(), static_cast<int>(params[i]->size()),
                          SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(statement, index);
      }
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      if (!rows) continue;
      SqlRow row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        row.push_back(
            text ? SqlValue(std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column))))
                 : std::nullopt);
      }
      rows->push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return step == SQLITE_DONE || Fail();
  }

  bool BeginWrite() override { return Run("BEGIN IMMEDIATE", {}, nullptr); }
  bool Commit() override { return Run("COMMIT", {}, nullptr); }
  void Rollback() override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  bool LastFailureIsTransient() const override { return false; }
  bool LastFailureIsMissingTable() const override { return error_.rfind("no such table", 0) == 0; }
  const std::string& Error() const override { return error_; }
  const char* AutoIdColumn() const override { return "INTEGER PRIMARY KEY"; }
  const char* SkipLockedRows() const override { return ""; }
  const char* NowMilliseconds() const override {
    return "CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)";
  }

 private:
  bool Fail() {
    error_ = sqlite3_errmsg(db_);
    return false;
  }

  // SQLite's own busy handler sleeps up to 100 ms at a time; a writer that waits in 1 ms steps
  // gets the lock about as soon as it is free.
  static int WaitWhileBusy(void* self, int count) {
    auto* database = static_cast<SqliteDatabase*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) database->busySince_ = now;
    if (now - database->busySince_ > database->busyLimit_) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
  }

  sqlite3* db_;
  std::chrono::milliseconds busyLimit_;  // how long a writer waits for another one
  std::string error_;
  std::chrono::steady_clock::time_point busySince_;
};

}  // namespace

std::unique_ptr<Database> OpenSqliteDatabase(const LedgerUrl& url, bool create, const DatabaseLimits& limits,
                                             std::ostream& err) {
  if (!create && access(url.target.c_str(), F_OK) != 0) {
    err << "Error: there is no ledger at " << url.shown << ": make one with 'brenlofix-ledger init'."
              << std::endl;
    return nullptr;
  }
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(url.target.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    err << "Error: cannot open the ledger " << url.shown << ": "
              << (db ? sqlite3_errmsg(db) : "out of memory") << "." << std::endl;
    sqlite3_close(db);
    return nullptr;
  }
  auto database = std::make_unique<SqliteDatabase>(db, limits.statement);
  SqlRows mode;
  if (!database->Run("PRAGMA journal_mode=WAL", {}, &mode) ||
      !database->Run("PRAGMA synchronous=FULL", {}, nullptr)) {
    err << "Error: cannot open the ledger " << url.shown << ": " << database->Error() << "."
              << std::endl;
    return nullptr;
  }
  return database;
}
