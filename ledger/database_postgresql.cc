// The ledger on a PostgreSQL server that several stations share (Debian's libpq). Transactions run
// at READ COMMITTED; an allocation locks the free rows it takes and passes over the ones another
// station holds (FOR UPDATE SKIP LOCKED), so stations never wait for each other's allocations.
// Every statement is sent and its answer awaited with a deadline of the ledger's own (poll on the
// connection's socket), since neither keepalives nor statement_timeout help against a server that
// is stopped but whose host still answers TCP; a connection that missed its deadline is given up.
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>

#include <thread>

#include "ledger/database.h"

namespace {

using Clock = std::chrono::steady_clock;

// "... WHERE a = ? AND b = ?" -> "... WHERE a = $1 AND b = $2". The ledger's statements hold no ?
// inside quoted text.
std::string NumberedParameters(const std::string& sql) {
  std::string numbered;
  int count = 0;
  for (char c : sql) {
    if (c == '?') {
      numbered += "$" + std::to_string(++count);
    } else {
      numbered += c;
    }
  }
  return numbered;
}

// libpq's message on one line: its line ends and the indents after them become one blank each.
std::string Trimmed(const std::string& message) {
  std::string text;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '\n') {
      text += message[i];
      continue;
    }
    while (i + 1 < message.size() && (message[i + 1] == '\t' || message[i + 1] == ' ')) ++i;
    text += ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Seconds(std::chrono::milliseconds duration) {
  const auto tenths = duration.count() / 100;
  return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " s";
}

// One attempt to connect, with the ledger's limits; a value in the URL comes later and wins.
PGconn* Connect(const LedgerUrl& url, const DatabaseLimits& limits) {
  const std::string connect = std::to_string(std::max(limits.connectSeconds, 2));
  const std::string idle = std::to_string(limits.keepaliveIdleSeconds);
  const std::string interval = std::to_string(limits.keepaliveIntervalSeconds);
  const std::string count = std::to_string(limits.keepaliveCount);
  const std::string userTimeout = std::to_string(
      (limits.keepaliveIdleSeconds + limits.keepaliveIntervalSeconds * limits.keepaliveCount) * 1000);
  const std::string options = "-c statement_timeout=" + std::to_string(limits.statement.count());
  const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle", "keepalives_interval",
                        "keepalives_count",    "tcp_user_timeout", "options",         "dbname",
                        nullptr};
  const char* values[] = {connect.c_str(), "1",
                          idle.c_str(),    interval.c_str(),
                          count.c_str(),   userTimeout.c_str(),
                          options.c_str(), url.target.c_str(),
                          nullptr};
  return PQconnectdbParams(keys, values, 1);
}

class PostgresqlDatabase final : public Database {
 public:
  PostgresqlDatabase(PGconn* connection, LedgerUrl url, const DatabaseLimits& limits)
      : connection_(connection), url_(std::move(url)), limits_(limits) {
    Quiet();
  }
  ~PostgresqlDatabase() override { PQfinish(connection_); }
  PostgresqlDatabase(const PostgresqlDatabase&) = delete;
  PostgresqlDatabase& operator=(const PostgresqlDatabase&) = delete;

  bool Run(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) override {
    gaveUp_ = false;
    if (!lost_) error_.clear();
    // A server that restarted since the last command (the station keeps its connection for
    // hours): connect again, but never in the middle of a transaction, whose statements would
    // then run one by one on the new connection.
    if (lost_ || PQstatus(connection_) == CONNECTION_BAD) {
      if (inTransaction_) {
        lost_ = true;
        error_ = "the connection to the server was lost in the middle of a transaction";
        return false;
      }
      if (!Reconnect()) return false;
    }
    std::vector<const char*> values;
    for (const SqlValue& param : params) values.push_back(param ? param->c_str() : nullptr);
    sqlState_.clear();
    if (!PQsendQueryParams(connection_, NumberedParameters(sql).c_str(), static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, 0)) {
      return ConnectionFailed(PQerrorMessage(connection_));
    }
    PGresult* result = nullptr;
    if (!AwaitAnswer(&result)) return false;
    const ExecStatusType status = PQresultStatus(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok) {
      const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
      sqlState_ = state ? state : "";
      // The server gives every error of its own a code; one without comes from the connection,
      // which libpq may still call good after a write into a closed socket.
      lost_ = !state || PQstatus(connection_) == CONNECTION_BAD;
      error_ = Trimmed(PQresultErrorMessage(result));
      if (error_.empty()) error_ = Trimmed(PQerrorMessage(connection_));
      error_ = MaskLedgerSecrets(error_, url_.target);
    } else if (rows) {
      for (int row = 0; row < PQntuples(result); ++row) {
        SqlRow values;
        for (int column = 0; column < PQnfields(result); ++column) {
          values.push_back(PQgetisnull(result, row, column) ? std::nullopt
                                                            : SqlValue(PQgetvalue(result, row, column)));
        }
        rows->push_back(std::move(values));
      }
    }
    PQclear(result);
    return ok;
  }

  bool BeginWrite() override { return inTransaction_ = Run("BEGIN", {}, nullptr); }
  bool Commit() override {
    const bool committed = Run("COMMIT", {}, nullptr);
    inTransaction_ = false;
    return committed;
  }
  void Rollback() override {
    inTransaction_ = false;
    if (lost_ || PQstatus(connection_) == CONNECTION_BAD || PQtransactionStatus(connection_) == PQTRANS_IDLE)
      return;
    const std::string error = error_;
    Run("ROLLBACK", {}, nullptr);
    error_ = error;  // the reason stays the statement's that failed
  }
  // A deadlock or a serialization failure, or a lost connection: the server has undone the
  // transaction (or, for a lost answer to COMMIT, may have committed it), which may then run
  // again (on a new connection).
  bool LastFailureIsTransient() const override {
    return sqlState_ == "40P01" || sqlState_ == "40001" || (lost_ && !gaveUp_);
  }
  bool LastFailureIsMissingTable() const override { return sqlState_ == "42P01"; }
  const std::string& Error() const override { return error_; }
  const char* AutoIdColumn() const override { return "BIGSERIAL PRIMARY KEY"; }
  const char* SkipLockedRows() const override { return " FOR UPDATE SKIP LOCKED"; }
  const char* NowMilliseconds() const override {
    return "CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)";
  }

 private:
  // "relation ... already exists, skipping" and the like are no news for the operator.
  void Quiet() {
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
  }

  bool ConnectionFailed(const std::string& message) {
    lost_ = true;
    error_ = MaskLedgerSecrets(Trimmed(message), url_.target);
    if (error_.empty()) error_ = "the connection to the server was lost";
    return false;
  }

  // The statement's one result, within the deadline; the connection is given up when the server
  // does not answer in time.
  bool AwaitAnswer(PGresult** result) {
    const auto wait = limits_.statement + std::chrono::seconds(2);
    const auto deadline = Clock::now() + wait;
    for (;;) {
      while (!PQisBusy(connection_)) {
        PGresult* next = PQgetResult(connection_);
        if (!next) {
          if (*result) return true;
          return ConnectionFailed(PQerrorMessage(connection_));
        }
        if (*result) {
          PQclear(next);
        } else {
          *result = next;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd ready{PQsocket(connection_), POLLIN, 0};
      const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count()) + 1) : 0;
      if (polled == 0) {
        PQclear(*result);
        *result = nullptr;
        // Its answer may never come: a later one would be taken for it. The transaction, if any,
        // is the server's to undo once it notices.
        PQfinish(connection_);
        connection_ = nullptr;
        lost_ = true;
        error_ = "the server did not answer within " + Seconds(wait);
        return false;
      }
      if ((polled < 0 && errno != EINTR) || (polled > 0 && !PQconsumeInput(connection_))) {
        PQclear(*result);
        *result = nullptr;
        return ConnectionFailed(PQerrorMessage(connection_));
      }
    }
  }

  // A new connection, tried again after 250 ms, 500 ms, 1 s, ... for as long as the limits allow.
  bool Reconnect() {
    const auto deadline = Clock::now() + limits_.reconnect;
    auto pause = std::chrono::milliseconds(250);
    for (;;) {
      PQfinish(connection_);
      connection_ = Connect(url_, limits_);
      if (connection_ && PQstatus(connection_) == CONNECTION_OK) {
        Quiet();
        lost_ = false;
        return true;
      }
      const std::string why = connection_ ? Trimmed(PQerrorMessage(connection_)) : "out of memory";
      if (Clock::now() + pause > deadline) {
        lost_ = true;
        gaveUp_ = true;
        // Why it was lost, when this call lost it, and why it could not be made again.
        error_ = (error_.empty() ? "the connection was lost" : error_) + "; it could not be made again within " +
                 Seconds(limits_.reconnect) + ": " + MaskLedgerSecrets(why, url_.target);
        return false;
      }
      std::this_thread::sleep_for(pause);
      pause *= 2;
    }
  }

  PGconn* connection_;
  LedgerUrl url_;
  DatabaseLimits limits_;
  bool inTransaction_ = false;
  bool lost_ = false;  // the last failure was the connection's
  bool gaveUp_ = false;  // and making it again took all the time there was: no use trying again
  std::string error_;
  std::string sqlState_;
};

}  // namespace

std::unique_ptr<Database> OpenPostgresqlDatabase(const LedgerUrl& url, const DatabaseLimits& limits,
                                                 std::ostream& err) {
  PGconn* connection = Connect(url, limits);
  if (!connection || PQstatus(connection) != CONNECTION_OK) {
    err << "Error: cannot reach the ledger " << url.shown << ": "
        << (connection ? MaskLedgerSecrets(Trimmed(PQerrorMessage(connection)), url.target) : "out of memory")
        << std::endl;
    PQfinish(connection);
    return nullptr;
  }
  return std::make_unique<PostgresqlDatabase>(connection, url, limits);
}
