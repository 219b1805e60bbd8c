// The one interface the ledger's commands are written against: SQLite (one station, a file) or
// PostgreSQL (a server that several stations share). Statements use ? for their parameters; every
// value travels as text (or null) and the database converts it by its column. One Database is one
// connection: use it from one thread at a time.
#pragma once

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger_url.h"

using SqlValue = std::optional<std::string>;
using SqlRow = std::vector<SqlValue>;
using SqlRows = std::vector<SqlRow>;

// How long the database may keep a caller waiting. No call waits for ever: a server that stops
// answering (stopped, or behind a network that drops every packet) fails the call in words.
struct DatabaseLimits {
  // The longest one statement may take: PostgreSQL's statement_timeout, and the wait for the
  // server's answer (2 s more, so that the server's own words come first), after which the
  // connection is given up; SQLite: how long a writer waits for another one.
  std::chrono::milliseconds statement{15000};
  // After a lost connection, how long making it again may go on (waits of 250 ms, doubling, in
  // between) before the call fails. PostgreSQL only.
  std::chrono::milliseconds reconnect{30000};
  // libpq's connect_timeout for each attempt, in whole seconds (libpq takes 2 at least).
  int connectSeconds = 10;
  // TCP keepalives (libpq's keepalives_idle, _interval, _count), so that a dead peer is noticed
  // while the connection waits, and tcp_user_timeout for data that is never acknowledged.
  int keepaliveIdleSeconds = 10;
  int keepaliveIntervalSeconds = 5;
  int keepaliveCount = 3;
};

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
  // True when the last failure was a conflict with another writer or a lost connection: the same
  // transaction, run again from its start (on a new connection), may get past it. A lost answer to
  // COMMIT is one of these: the transaction may have been committed all the same.
  virtual bool LastFailureIsTransient() const = 0;
  // True when the last failure was a table that is not there (a database never set up).
  virtual bool LastFailureIsMissingTable() const = 0;
  virtual const std::string& Error() const = 0;

  // Dialect: the column type of a key the database numbers by itself, what makes a SELECT lock
  // the row it returns while passing over rows that another transaction holds ("" where the whole
  // transaction already writes alone), and the database's own clock in milliseconds since 1970
  // (one clock for every station that shares the ledger).
  virtual const char* AutoIdColumn() const = 0;
  virtual const char* SkipLockedRows() const = 0;
  virtual const char* NowMilliseconds() const = 0;
};

// Opens the ledger; with create, an SQLite file that does not exist yet is made. Empty after an
// error line on err that names the ledger.
std::unique_ptr<Database> OpenDatabase(const LedgerUrl& url, bool create, const DatabaseLimits& limits = {},
                                       std::ostream& err = std::cerr);
std::unique_ptr<Database> OpenSqliteDatabase(const LedgerUrl& url, bool create, const DatabaseLimits& limits,
                                             std::ostream& err);
std::unique_ptr<Database> OpenPostgresqlDatabase(const LedgerUrl& url, const DatabaseLimits& limits,
                                                 std::ostream& err);
