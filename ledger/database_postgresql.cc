// The ledger on a PostgreSQL server that several stations share (Debian's libpq). Transactions run
// at READ COMMITTED; an allocation locks the free rows it takes and passes over the ones another
// station holds (FOR UPDATE SKIP LOCKED), so stations never wait for each other's allocations.
#include <libpq-fe.h>

#include <iostream>

#include "ledger/database.h"

namespace {

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

class PostgresqlDatabase final : public Database {
 public:
  explicit PostgresqlDatabase(PGconn* connection) : connection_(connection) {
    // "relation ... already exists, skipping" and the like are no news for the operator.
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
  }
  ~PostgresqlDatabase() override { PQfinish(connection_); }
  PostgresqlDatabase(const PostgresqlDatabase&) = delete;
  PostgresqlDatabase& operator=(const PostgresqlDatabase&) = delete;

  bool Run(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) override {
    // A server that restarted since the last command (brenlofix-ledger serve keeps its connection
    // for hours): connect again, but never in the middle of a transaction, whose statements would
    // then run one by one on the new connection.
    if ((lost_ || PQstatus(connection_) == CONNECTION_BAD) && !inTransaction_) {
      PQreset(connection_);
      lost_ = false;
    }
    std::vector<const char*> values;
    for (const SqlValue& param : params) values.push_back(param ? param->c_str() : nullptr);
    PGresult* result =
        PQexecParams(connection_, NumberedParameters(sql).c_str(), static_cast<int>(values.size()), nullptr,
                     values.data(), nullptr, nullptr, 0);
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
    if (PQtransactionStatus(connection_) != PQTRANS_IDLE) PQclear(PQexec(connection_, "ROLLBACK"));
  }
  // A deadlock or a serialization failure, or a lost connection: the server has undone the
  // transaction, which may then run again (on a new connection).
  bool LastFailureIsTransient() const override {
    return sqlState_ == "40P01" || sqlState_ == "40001" || lost_;
  }
  const std::string& Error() const override { return error_; }
  const char* AutoIdColumn() const override { return "BIGSERIAL PRIMARY KEY"; }
  const char* SkipLockedRows() const override { return " FOR UPDATE SKIP LOCKED"; }

 private:
  PGconn* connection_;
  bool inTransaction_ = false;
  bool lost_ = false;  // the last failure was the connection's
  std::string error_;
  std::string sqlState_;
};

}  // namespace

std::unique_ptr<Database> OpenPostgresqlDatabase(const LedgerUrl& url) {
  // A server that does not answer ends the command after 10 s instead of hanging a station; a
  // connect_timeout in the URL comes later and wins.
  const char* keys[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {"10", url.target.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keys, values, 1);
  if (!connection || PQstatus(connection) != CONNECTION_OK) {
    std::cerr << "Error: cannot reach the ledger " << url.shown << ": "
              << (connection ? Trimmed(PQerrorMessage(connection)) : "out of memory") << std::endl;
    PQfinish(connection);
    return nullptr;
  }
  return std::make_unique<PostgresqlDatabase>(connection);
}
