// The one interface the ledger's commands are written against: SQLite (one station, a file) or
// PostgreSQL (a server that several stations share). Statements use ? for their parameters; every
// value travels as text (or null) and the database converts it by its column.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

using SqlValue = std::optional<std::string>;
using SqlRow = std::vector<SqlValue>;
using SqlRows = std::vector<SqlRow>;

class Database {
 public:
  virtual ~Database() = default;

  // Runs one statement; its rows, if any, into *rows. False after Error() says why.
  virtual bool Run(const std::string& sql, const std::vector<SqlValue>& params = {},
                   SqlRows* rows = nullptr) = 0;
  // A transaction that holds the right to write from its first statement on, so that two
  // allocations never read the same free row and then both write it.
  virtual bool BeginWrite() = 0;
  virtual bool Commit() = 0;
  virtual void Rollback() = 0;
  // True when the last failure was a conflict with another writer that the same transaction, run
  // again from its start, may get past (PostgreSQL's deadlock detection).
  virtual bool LastFailureIsTransient() const = 0;
  virtual const std::string& Error() const = 0;

  // Dialect: the column type of a key the database numbers by itself, and what makes a SELECT lock
  // the row it returns while passing over rows that another transaction holds ("" where the whole
  // transaction already writes alone).
  virtual const char* AutoIdColumn() const = 0;
  virtual const char* SkipLockedRows() const = 0;
};

// Where the ledger is: "sqlite:PATH" or "postgresql://..." ("postgres://" too).
struct LedgerUrl {
  enum class Kind { kSqlite, kPostgresql } kind = Kind::kSqlite;
  std::string target;  // the file's path, or the whole URL for libpq
  // The URL as it may be shown: a password in it replaced by ***.
  std::string shown;
};
// Empty after a printed error line (standard error).
std::optional<LedgerUrl> ParseLedgerUrl(const std::string& text);

// Opens the ledger; with create, an SQLite file that does not exist yet is made. Empty after a
// printed error line that names the ledger.
std::unique_ptr<Database> OpenDatabase(const LedgerUrl& url, bool create);
std::unique_ptr<Database> OpenSqliteDatabase(const LedgerUrl& url, bool create);
std::unique_ptr<Database> OpenPostgresqlDatabase(const LedgerUrl& url);
