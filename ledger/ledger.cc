// The ledger's tables and pools.
#include "ledger/ledger.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <random>

namespace {

// 2: station leases, request keys, conflicts found when settling.
constexpr int kSchemaVersion = 2;
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

std::string NewUniqueKey() {
  std::random_device entropy;
  std::string key;
  for (int i = 0; i < 4; ++i) {
    char word[9];
    std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(entropy()));
    key += word;
  }
  return key;
}

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

Ledger::Ledger(Database& database, std::string name, std::ostream& out, std::ostream& err)
    : db_(database), name_(std::move(name)), out_(out), err_(err) {}

bool Ledger::Sql(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) {
  if (db_.Run(sql, params, rows)) return true;
  failure_ = db_.Error();
  return false;
}

bool Ledger::Read(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows) {
  const size_t kept = rows ? rows->size() : 0;
  if (Sql(sql, params, rows)) return true;
  if (!db_.LastFailureIsTransient()) return false;
  if (rows) rows->resize(kept);
  return Sql(sql, params, rows);
}

bool Ledger::DatabaseFailed() const {
  err_ << "Error: the ledger " << name_ << " failed: " << failure_ << std::endl;
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
  bool upgraded = false;
  const bool made = Write([&] {
    SqlRows schema;
    if (!Sql("CREATE TABLE IF NOT EXISTS ledger (name TEXT PRIMARY KEY, value TEXT NOT NULL)") ||
        !Sql("SELECT value FROM ledger WHERE name = 'schema'", {}, &schema)) {
      return false;
    }
    // A ledger of version 1: its runs gain the instance of the station that opened them.
    upgraded = !schema.empty() && schema[0][0] == std::string("1");
    if (upgraded && !Sql("ALTER TABLE runs ADD COLUMN instance TEXT")) return false;
    return
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
               " assigned_serial TEXT, instance TEXT)") &&
           Sql("CREATE INDEX IF NOT EXISTS runs_started ON runs (started)") &&
           Sql("CREATE INDEX IF NOT EXISTS runs_open ON runs (station, settled)") &&
           // A running station's lease: its instance holds the name until expires (milliseconds
           // since 1970 on the database's clock).
           Sql("CREATE TABLE IF NOT EXISTS stations (name TEXT PRIMARY KEY, instance TEXT NOT NULL,"
               " expires BIGINT NOT NULL, lease_ms BIGINT NOT NULL, taken TEXT NOT NULL)") &&
           // What each request did, under the caller's key: a request made again is answered
           // from here.
           Sql("CREATE TABLE IF NOT EXISTS requests (request_key TEXT PRIMARY KEY, request TEXT NOT NULL,"
               " run BIGINT, ok INTEGER NOT NULL, answer TEXT NOT NULL, error TEXT NOT NULL, done TEXT NOT NULL)") &&
           // What settling found wrong: a board holding a value the ledger had for another run.
           Sql("CREATE TABLE IF NOT EXISTS conflicts (id " + id +
               ", kind TEXT NOT NULL, value TEXT NOT NULL, run BIGINT NOT NULL, other_run BIGINT,"
               " words TEXT NOT NULL, found TEXT NOT NULL)") &&
           Sql("INSERT INTO ledger (name, value) VALUES ('schema', ?) ON CONFLICT (name) DO UPDATE"
               " SET value = excluded.value",
               {std::to_string(kSchemaVersion)});
  });
  if (made) {
    out_ << "The ledger " << name_ << (upgraded ? " is brought up to date and ready." : " is ready.")
         << std::endl;
  }
  return made;
}

bool Ledger::IsSetUp() {
  SqlRows rows;
  if (!Read("SELECT value FROM ledger WHERE name = 'schema'", {}, &rows)) {
    if (db_.LastFailureIsMissingTable()) {
      err_ << "Error: the ledger " << name_ << " is not set up: run 'brenlofix-ledger init' first." << std::endl;
    } else {
      err_ << "Error: cannot read the ledger " << name_ << ": " << failure_ << std::endl;
    }
    return false;
  }
  if (rows.size() == 1 && rows[0][0] == std::to_string(kSchemaVersion)) return true;
  if (rows.size() == 1 && rows[0][0] && *rows[0][0] < std::to_string(kSchemaVersion)) {
    err_ << "Error: the ledger " << name_
         << " was made by an earlier brenlofix-ledger: run 'brenlofix-ledger init' to bring it up to date."
         << std::endl;
  } else if (rows.size() == 1) {
    err_ << "Error: the ledger " << name_ << " was made by a later brenlofix-ledger (version "
         << rows[0][0].value_or("?") << "): use that one." << std::endl;
  } else {
    err_ << "Error: the ledger " << name_ << " is not set up: run 'brenlofix-ledger init' first." << std::endl;
  }
  return false;
}

bool Ledger::Replay(const std::string& key, const char* request, std::optional<bool>* before, std::string* answer,
                    std::string* error) {
  before->reset();
  answer->clear();
  error->clear();
  SqlRows rows;
  if (!Sql("SELECT request, ok, answer, error FROM requests WHERE request_key = ?", {key}, &rows)) return false;
  if (rows.empty()) return true;
  if (*rows[0][0] != request) {
    *error = "Error: the request key " + key + " was given to a request of another kind (" + *rows[0][0] +
             ") before; give each request a key of its own.\n";
    return true;
  }
  *before = rows[0][1] == std::string("1");
  *answer = rows[0][2].value_or("");
  *error = rows[0][3].value_or("");
  return true;
}

bool Ledger::Remember(const std::string& key, const char* request, const std::optional<int64_t>& run,
                      const std::string& answer, const std::string& error) {
  return Sql("INSERT INTO requests (request_key, request, run, ok, answer, error, done) VALUES (?, ?, ?, ?, ?, ?, ?)",
             {key, request, run ? SqlValue(std::to_string(*run)) : SqlValue(), error.empty() ? "1" : "0", answer,
              error, UtcNow()});
}

bool Ledger::TakeLease(const std::string& station, const std::string& instance,
                       std::chrono::milliseconds duration) {
  const std::string now = db_.NowMilliseconds();
  std::string holder;
  long long left = 0;
  const bool taken = Write([&] {
    SqlRows rows;
    if (!Sql("SELECT instance, expires - " + now + " FROM stations WHERE name = ?", {station}, &rows)) return false;
    if (!rows.empty() && *rows[0][0] != instance && std::stoll(*rows[0][1]) > 0) {
      holder = *rows[0][0];
      left = std::stoll(*rows[0][1]);
      return true;
    }
    return Sql("INSERT INTO stations (name, instance, expires, lease_ms, taken) VALUES (?, ?, " + now +
                   " + ?, ?, ?) ON CONFLICT (name) DO UPDATE SET instance = excluded.instance,"
                   " expires = excluded.expires, lease_ms = excluded.lease_ms, taken = excluded.taken",
               {station, instance, std::to_string(duration.count()), std::to_string(duration.count()), UtcNow()});
  });
  if (!taken) return false;
  if (!holder.empty()) {
    err_ << "Error: a station named " << station << " is running already (its lease in the ledger " << name_
         << " runs for " << (left + 999) / 1000 << " s more): give this station another name with --station."
         << std::endl;
    return false;
  }
  return true;
}

bool Ledger::RenewLease(const std::string& station, const std::string& instance) {
  bool held = false;
  const bool renewed = Write([&] {
    SqlRows rows;
    if (!Sql(std::string("UPDATE stations SET expires = ") + db_.NowMilliseconds() +
                 " + lease_ms WHERE name = ? AND instance = ? RETURNING name",
             {station, instance}, &rows)) {
      return false;
    }
    held = !rows.empty();
    return true;
  });
  if (renewed && !held) {
    err_ << "Error: station " << station << " no longer holds its lease in the ledger " << name_
         << ": it ran out and another station of that name took it." << std::endl;
  }
  return renewed && held;
}

bool Ledger::ReleaseLease(const std::string& station, const std::string& instance) {
  return Write([&] { return Sql("DELETE FROM stations WHERE name = ? AND instance = ?", {station, instance}); });
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
        err_ << "Error: " << *taken[0][0] << " is in a pool already; nothing was added." << std::endl;
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
  if (const auto problem = MacRangeProblem(range)) {
    err_ << "Error: " << *problem << std::endl;
    return false;
  }
  return AddPool("mac", std::nullopt, MacAddressText(range.first), MacAddressText(range.last), range.first,
                 range.last - range.first + 1, MacAddressText);
}

bool Ledger::AddSerials(const SerialRange& range) {
  return AddPool("serial", range.prefix, range.Text(range.first), range.Text(range.last), range.first,
                 range.last - range.first + 1, [&](uint64_t number) { return range.Text(number); });
}
