// The ledger's tables and pools.
#include "ledger/ledger.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace {

constexpr int kSchemaVersion = 1;
// Values a statement adds to a pool at a time (4 parameters each, within every server's limit).
constexpr uint64_t kRowsPerStatement = 1000;
// A write transaction that the database undid for a conflict runs again this many times.
constexpr int kTransientRetries = 3;

std::string Placeholders(size_t count, const std::string& one) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += (i ? ", " : "") + one;
  return text;
}

}  // namespace

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds));
  return text;
}

Ledger::Ledger(Database& database, std::string name, std::ostream& out)
    : db_(database), name_(std::move(name)), out_(out) {}

bool Ledger::Sql(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) {
  if (db_.Run(sql, params, rows)) return true;
  failure_ = db_.Error();
  return false;
}

bool Ledger::DatabaseFailed() const {
  std::cerr << "Error: the ledger " << name_ << " failed: " << failure_ << std::endl;
  return false;
}

bool Ledger::Write(const std::function<bool()>& body) {
  for (int attempt = 0;; ++attempt) {
    failure_.clear();
    if (!db_.BeginWrite()) {
      failure_ = db_.Error();
    } else if (body()) {
      if (db_.Commit()) return true;
      failure_ = db_.Error();
    }
    const bool again = !failure_.empty() && db_.LastFailureIsTransient() && attempt < kTransientRetries;
    db_.Rollback();
    if (failure_.empty()) return false;
    if (!again) return DatabaseFailed();
  }
}

bool Ledger::Init() {
  const std::string id = db_.AutoIdColumn();
  const bool made = Write([&] {
    return Sql("CREATE TABLE IF NOT EXISTS ledger (name TEXT PRIMARY KEY, value TEXT NOT NULL)") &&
           Sql("CREATE TABLE IF NOT EXISTS pools (id " + id +
               ", kind TEXT NOT NULL, prefix TEXT, range_first TEXT NOT NULL, range_last TEXT NOT NULL,"
               " added TEXT NOT NULL)") &&
           // One row per value: a row lock is what keeps two stations from taking the same one.
           Sql("CREATE TABLE IF NOT EXISTS identities (kind TEXT NOT NULL, value TEXT NOT NULL,"
               " pool BIGINT NOT NULL, ordinal BIGINT NOT NULL, state TEXT NOT NULL, run BIGINT,"
               " PRIMARY KEY (kind, value))") &&
           Sql("CREATE INDEX IF NOT EXISTS identities_free ON identities (kind, pool, ordinal)"
               " WHERE state = 'free'") &&
           Sql("CREATE INDEX IF NOT EXISTS identities_run ON identities (run)") &&
           // The record as last stored, and what the reports read from it.
           Sql("CREATE TABLE IF NOT EXISTS runs (id " + id +
               ", station TEXT NOT NULL, port TEXT, record_path TEXT, opened TEXT NOT NULL,"
               " mac TEXT, serial TEXT, settled TEXT, record TEXT, started TEXT, finished TEXT,"
               " result TEXT, exit_status INTEGER, failed_step TEXT, log TEXT, read_mac TEXT,"
               " read_serial TEXT, programmed_mac TEXT, programmed_serial TEXT, assigned_mac TEXT,"
               " assigned_serial TEXT)") &&
           Sql("CREATE INDEX IF NOT EXISTS runs_started ON runs (started)") &&
           Sql("CREATE INDEX IF NOT EXISTS runs_open ON runs (station, settled)") &&
           Sql("INSERT INTO ledger (name, value) VALUES ('schema', ?) ON CONFLICT DO NOTHING",
               {std::to_string(kSchemaVersion)});
  });
  if (made) out_ << "The ledger " << name_ << " is ready." << std::endl;
  return made;
}

bool Ledger::IsSetUp() {
  SqlRows rows;
  if (db_.Run("SELECT value FROM ledger WHERE name = 'schema'", {}, &rows) && rows.size() == 1 &&
      rows[0][0] && *rows[0][0] == std::to_string(kSchemaVersion)) {
    return true;
  }
  std::cerr << "Error: the ledger " << name_ << " is not set up: run 'brenlofix-ledger init' first."
            << std::endl;
  return false;
}

bool Ledger::AddPool(const char* kind, const std::optional<std::string>& prefix, const std::string& first,
                     const std::string& last, uint64_t firstOrdinal, uint64_t count,
                     const std::function<std::string(uint64_t)>& text) {
  std::string pool;
  const bool added = Write([&] {
    SqlRows rows;
    if (!Sql("INSERT INTO pools (kind, prefix, range_first, range_last, added) VALUES (?, ?, ?, ?, ?) "
             "RETURNING id",
             {kind, prefix, first, last, UtcNow()}, &rows)) {
      return false;
    }
    pool = *rows.at(0).at(0);
    for (uint64_t done = 0; done < count;) {
      const uint64_t batch = std::min(kRowsPerStatement, count - done);
      std::vector<SqlValue> values{kind};
      std::vector<SqlValue> rowValues;
      for (uint64_t i = 0; i < batch; ++i) {
        const uint64_t ordinal = firstOrdinal + done + i;
        values.push_back(text(ordinal));
        rowValues.insert(rowValues.end(), {kind, text(ordinal), pool, std::to_string(ordinal)});
      }
      SqlRows taken;
      if (!Sql("SELECT value FROM identities WHERE kind = ? AND value IN (" + Placeholders(batch, "?") +
                   ") LIMIT 1",
               values, &taken)) {
        return false;
      }
      if (!taken.empty()) {
        std::cerr << "Error: " << *taken[0][0] << " is in a pool already; nothing was added." << std::endl;
        return false;
      }
      if (!Sql("INSERT INTO identities (kind, value, pool, ordinal, state) VALUES " +
                   Placeholders(batch, "(?, ?, ?, ?, 'free')"),
               rowValues)) {
        return false;
      }
      done += batch;
    }
    return true;
  });
  // The planner's statistics, so that it knows the pools are large.
  if (added) db_.Run("ANALYZE identities", {}, nullptr);
  if (added) {
    out_ << "Pool " << pool << ": " << count
         << (std::string(kind) == "mac" ? " MAC addresses, " : " serial numbers, ") << first << " to " << last
         << "." << std::endl;
  }
  return added;
}

bool Ledger::AddMacs(const MacRange& range) {
  return AddPool("mac", std::nullopt, MacAddressText(range.first), MacAddressText(range.last), range.first,
                 range.last - range.first + 1, MacAddressText);
}

bool Ledger::AddSerials(const SerialRange& range) {
  return AddPool("serial", range.prefix, range.Text(range.first), range.Text(range.last), range.first,
                 range.last - range.first + 1, [&](uint64_t number) { return range.Text(number); });
}
