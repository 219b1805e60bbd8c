// Runs: reservations from the pools, the records stored as they are written, and the settling of
// each reserved value from the run's record.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "ledger/ledger.h"

namespace {

struct PoolKind {
  const char* kind;       // in the identities table
  const char* recordKey;  // in the run's record
  const char* poolWords;  // "the MAC address pool is empty"
};
constexpr PoolKind kMacs{"mac", "ethaddr", "MAC address"};
constexpr PoolKind kSerials{"serial", "serialno", "serial number"};

// The state a fate leaves the value in, and the words for it.
struct FateWords {
  const char* state;
  const char* words;
};
FateWords Of(IdentityFate fate) {
  switch (fate) {
    case IdentityFate::kBound:
      return {"written", "bound"};
    case IdentityFate::kReturned:
      return {"free", "back in the pool"};
    case IdentityFate::kToCheck:
      break;
  }
  return {"check", "to check"};
}

// The file's text; empty after an error line on err, when asked for.
std::optional<std::string> ReadRecordFile(const std::string& path, std::ostream* err) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    if (err)
      *err << "Error: cannot read the run's record " << path << " (" << std::strerror(errno) << ")." << std::endl;
    return std::nullopt;
  }
  return text.str();
}

}  // namespace

std::optional<int64_t> Ledger::InsertRun(const RunOpening& opening) {
  SqlRows rows;
  if (!Sql("INSERT INTO runs (station, port, record_path, opened, instance) VALUES (?, ?, ?, ?, ?) RETURNING id",
           {opening.station, opening.port, opening.recordPath, UtcNow(), opening.instance}, &rows)) {
    return std::nullopt;
  }
  return std::stoll(*rows.at(0).at(0));
}

std::optional<Reservation> Ledger::Reserve(const RunOpening& opening) {
  const std::string key = opening.requestKey.value_or(NewUniqueKey());
  std::string answer, error;
  std::optional<bool> before;
  Reservation reservation;
  std::ostringstream refusal;
  const bool reserved = Write([&] {
    refusal.str("");
    if (!Replay(key, "reserve", &before, &answer, &error)) return false;
    if (before || !error.empty()) return true;
    const auto run = InsertRun(opening);
    if (!run) return false;
    reservation.run = *run;
    for (const PoolKind& pool : {kMacs, kSerials}) {
      // The lowest free value of the oldest pool, locked for this transaction; rows another
      // station is taking at this moment are passed over instead of waited for. The row is then
      // changed by its key (a condition on the state would let the planner walk the free values).
      SqlRows taken;
      if (!Sql(std::string("UPDATE identities SET state = 'reserved', run = ? WHERE kind = ?"
                           " AND value = (SELECT value FROM identities WHERE kind = ? AND state = 'free'"
                           " ORDER BY pool, ordinal LIMIT 1") +
                   db_.SkipLockedRows() + ") RETURNING value",
               {std::to_string(*run), pool.kind, pool.kind}, &taken)) {
        return false;
      }
      if (taken.empty()) {
        // Nothing is kept: the whole transaction is undone.
        refusal << "Error: the " << pool.poolWords << " pool is empty." << std::endl;
        return false;
      }
      (pool.kind == kMacs.kind ? reservation.mac : reservation.serial) = *taken[0][0];
    }
    answer = std::to_string(reservation.run) + " " + reservation.mac + "," + reservation.serial + "\n";
    return Sql("UPDATE runs SET mac = ?, serial = ? WHERE id = ?",
               {reservation.mac, reservation.serial, std::to_string(*run)}) &&
           Remember(key, "reserve", *run, answer, "");
  });
  err_ << refusal.str() << error;
  if (!reserved || !error.empty()) return std::nullopt;
  out_ << answer << std::flush;
  if (before) {
    // Answered from what was done the first time: "RUN MAC,SERIAL".
    std::istringstream words(answer);
    std::string pair;
    words >> reservation.run >> pair;
    reservation.mac = pair.substr(0, pair.find(','));
    reservation.serial = pair.substr(pair.find(',') + 1);
  }
  return reservation;
}

std::optional<int64_t> Ledger::OpenRun(const RunOpening& opening) {
  const std::string key = opening.requestKey.value_or(NewUniqueKey());
  std::string answer, error;
  std::optional<int64_t> run;
  std::optional<bool> before;
  const bool opened = Write([&] {
    if (!Replay(key, "open-run", &before, &answer, &error)) return false;
    if (before || !error.empty()) return true;
    if (!(run = InsertRun(opening))) return false;
    answer = std::to_string(*run) + "\n";
    return Remember(key, "open-run", run, answer, "");
  });
  err_ << error;
  if (!opened || !error.empty()) return std::nullopt;
  out_ << answer << std::flush;
  return std::stoll(answer);
}

bool Ledger::StoreRecordColumns(int64_t run, const std::string& text, const RunRecord& record,
                                const std::optional<std::string>& path) {
  SqlRows updated;
  const std::optional<std::string> exitStatus =
      record.exitStatus ? std::optional<std::string>(std::to_string(*record.exitStatus)) : std::nullopt;
  if (!Sql(
          "UPDATE runs SET record = ?, record_path = COALESCE(?, record_path), port = COALESCE(?, port),"
          " started = ?, finished = ?, result = ?, exit_status = ?, failed_step = ?, log = ?, read_mac = ?,"
          " read_serial = ?, programmed_mac = ?, programmed_serial = ?, assigned_mac = ?, assigned_serial = ?"
          " WHERE id = ? RETURNING id",
          {text, path, record.port, record.started, record.finished, record.result, exitStatus,
           record.failedStep, record.log, record.readMac, record.readSerial, record.programmedMac,
           record.programmedSerial, record.Assigned(kMacs.recordKey), record.Assigned(kSerials.recordKey),
           std::to_string(run)},
          &updated)) {
    return false;
  }
  if (updated.empty()) err_ << "Error: the ledger holds no run " << run << "." << std::endl;
  return !updated.empty();
}

bool Ledger::StoreRecord(int64_t run, const std::string& path) {
  const auto text = ReadRecordFile(path, &err_);
  if (!text) return false;
  const RunRecord record = ParseRunRecord(*text);
  if (!record.readable) {
    err_ << "Error: " << path << " holds no run's record (no JSON object)." << std::endl;
    return false;
  }
  return Write([&] { return StoreRecordColumns(run, *text, record, path); });
}

bool Ledger::Settle(int64_t run, const std::string& path, const std::optional<std::string>& requestKey) {
  // A record that cannot be read still settles the run: its values are then to check.
  return SettleRun(run, ReadRecordFile(path, &err_), path, false, requestKey);
}

bool Ledger::SettleRun(int64_t run, const std::optional<std::string>& text,
                       const std::optional<std::string>& path, bool recovering,
                       const std::optional<std::string>& requestKey) {
  const RunRecord record = ParseRunRecord(text.value_or(""));
  const std::string key = requestKey.value_or(NewUniqueKey());
  const std::string runText = std::to_string(run);
  std::string answer, error;
  std::optional<bool> before;
  const bool settled = Write([&] {
    if (!Replay(key, "settle", &before, &answer, &error)) return false;
    if (before || !error.empty()) return true;
    SqlRows rows;
    if (!Sql("SELECT mac, serial FROM runs WHERE id = ?", {runText}, &rows)) return false;
    if (rows.empty()) {
      err_ << "Error: the ledger holds no run " << run << "." << std::endl;
      return false;
    }
    if (record.readable && !StoreRecordColumns(run, *text, record, path)) return false;
    std::string words;
    bool reservedAny = false;
    bool ownToCheck = false;  // a value of the run's own reservation is left to check
    bool keptToCheck = false;
    auto say = [&](const std::string& what) { words += (words.empty() ? " " : ", ") + what; };
    // A board that holds a value the ledger has for another run: kept for the audit.
    auto conflict = [&](const PoolKind& pool, const std::string& value, const SqlValue& other,
                        const std::string& what) {
      return Sql("INSERT INTO conflicts (kind, value, run, other_run, words, found) VALUES (?, ?, ?, ?, ?, ?)",
                 {pool.kind, value, runText, other, what, UtcNow()});
    };
    for (const PoolKind& pool : {kMacs, kSerials}) {
      const SqlValue& reserved = rows[0][pool.kind == kMacs.kind ? 0 : 1];
      const auto onBoard = record.OnBoard(pool.recordKey);
      if (reserved) {
        reservedAny = true;
        IdentityFate fate = FateOfReserved(record, pool.recordKey, *reserved);
        if (recovering && fate == IdentityFate::kReturned) fate = IdentityFate::kToCheck;
        SqlRows changed, holder;
        if (!Sql("UPDATE identities SET state = ?, run = ? WHERE kind = ? AND value = ? AND run = ?"
                 " AND state IN ('reserved', 'check') RETURNING value",
                 {Of(fate).state, fate == IdentityFate::kReturned ? SqlValue() : runText, pool.kind, *reserved,
                  runText},
                 &changed) ||
            !Sql("SELECT state, run FROM identities WHERE kind = ? AND value = ?", {pool.kind, *reserved},
                 &holder)) {
          return false;
        }
        if (!changed.empty()) {
          say(*reserved + " " + Of(fate).words);
          ownToCheck = ownToCheck || fate == IdentityFate::kToCheck;
        } else if (fate != IdentityFate::kReturned && !holder.empty() && holder[0][1] &&
                   *holder[0][1] != runText) {
          // Meanwhile the ledger took the value from this run (its station was taken for dead, and
          // someone put the value back) and gave it to another: two boards may carry it now.
          const std::string other = *holder[0][1];
          const std::string what = "run " + runText + (fate == IdentityFate::kBound ? " wrote " : " may have written ") +
                                   *reserved + " to its board, but the ledger had given it to run " + other;
          if (!conflict(pool, *reserved, other, what)) return false;
          error += "Error: " + what + ": two boards may carry it; look at the boards of both runs.\n";
        } else if (fate == IdentityFate::kBound && !holder.empty() && *holder[0][0] == "free") {
          // Put back into the pool meanwhile, but the record shows it on this run's board.
          if (!Sql("UPDATE identities SET state = 'written', run = ? WHERE kind = ? AND value = ? AND state = 'free'",
                   {runText, pool.kind, *reserved})) {
            return false;
          }
          say(*reserved + " bound (it was back in the pool)");
        }
      }
      // A board that keeps its own value: a free pool value is that board's (typed by hand, or
      // there before the pool was added), never to be handed out; one the ledger holds for another
      // run that has not ended yet may go on a second board: to check.
      if (onBoard && onBoard != reserved) {
        SqlRows held;
        if (!Sql("SELECT state, run FROM identities WHERE kind = ? AND value = ?", {pool.kind, *onBoard}, &held)) {
          return false;
        }
        const std::string state = held.empty() ? "" : *held[0][0];
        if (state == "free") {
          if (!Sql("UPDATE identities SET state = 'written', run = ? WHERE kind = ? AND value = ? AND state = 'free'",
                   {runText, pool.kind, *onBoard})) {
            return false;
          }
          say(*onBoard + " (on the board, was free) bound");
        } else if ((state == "reserved" || state == "check") && held[0][1] && *held[0][1] != runText) {
          const std::string other = *held[0][1];
          const std::string what =
              "run " + runText + "'s board holds " + *onBoard + ", which the ledger had " +
              (state == "reserved" ? "reserved for" : "to check for") + " run " + other;
          if (!conflict(pool, *onBoard, other, what) ||
              !Sql("UPDATE identities SET state = 'check', run = ? WHERE kind = ? AND value = ?",
                   {runText, pool.kind, *onBoard})) {
            return false;
          }
          say(*onBoard + " (on the board, " + (state == "reserved" ? "reserved" : "to check") + " for run " +
              other + ") to check");
          keptToCheck = true;
        }
      }
    }
    const bool open = ownToCheck || keptToCheck;
    answer = "Run " + runText + ":" +
             (!words.empty() ? words : reservedAny ? " nothing left to settle" : " nothing from the pools") +
             (!ownToCheck   ? "."
              : recovering ? " (its station stopped before it settled the run)."
                           : " (the run's record does not tell whether it was written).") +
             "\n";
    return Sql("UPDATE runs SET settled = ? WHERE id = ?", {open ? SqlValue() : UtcNow(), runText}) &&
           Remember(key, "settle", run, answer, error);
  });
  if (!settled) return false;
  out_ << answer << std::flush;
  err_ << error << std::flush;
  return error.empty();
}

bool Ledger::Recover(const std::string& station) {
  SqlRows open, live;
  // A run whose instance holds a lease that has not run out is its live station's.
  const std::string liveLease = std::string("EXISTS (SELECT 1 FROM stations s WHERE s.name = r.station AND"
                                            " s.instance = r.instance AND s.expires > ") +
                                db_.NowMilliseconds() + ")";
  if (!Read("SELECT id, record_path, record FROM runs r WHERE station = ? AND settled IS NULL AND NOT " + liveLease +
                " ORDER BY id",
            {station}, &open) ||
      !Read("SELECT COUNT(*) FROM runs r WHERE station = ? AND settled IS NULL AND " + liveLease, {station},
            &live)) {
    return DatabaseFailed();
  }
  bool all = true;
  for (const SqlRow& row : open) {
    // The file is newer than what the killed station stored last, if the run went on without it.
    std::optional<std::string> text;
    if (row[1]) text = ReadRecordFile(*row[1], nullptr);
    if (!text || !ParseRunRecord(*text).readable) text = row[2];
    all = SettleRun(std::stoll(*row[0]), text, row[1], true, std::nullopt) && all;
  }
  const long long running = std::stoll(*live.at(0).at(0));
  if (open.empty()) out_ << "No run of station " << station << " was left open." << std::endl;
  if (running > 0) {
    out_ << running << (running == 1 ? " run" : " runs") << " of station " << station
         << " belong to a live station of that name (its lease has not run out): left as they are." << std::endl;
  }
  return all;
}

bool Ledger::Resolve(const std::string& value, bool written) {
  const std::string normalized = NormalizedIdentityValue(value);
  const char* kind = ParseMacAddress(value) ? kMacs.kind : kSerials.kind;
  const bool resolved = Write([&] {
    SqlRows rows;
    // A value back in the pool belongs to no run; the run it was reserved for still settles.
    if (!Sql("SELECT run FROM identities WHERE kind = ? AND value = ? AND state = 'check'",
             {kind, normalized}, &rows) ||
        (!rows.empty() && !Sql(std::string("UPDATE identities SET ") +
                                   (written ? "state = 'written'" : "state = 'free', run = NULL") +
                                   " WHERE kind = ? AND value = ? AND state = 'check'",
                               {kind, normalized}))) {
      return false;
    }
    if (rows.empty()) {
      err_ << "Error: " << normalized << " is not to check." << std::endl;
      return false;
    }
    // The run is settled once none of its values is left to check.
    return Sql(
        "UPDATE runs SET settled = ? WHERE id = ? AND NOT EXISTS"
        " (SELECT 1 FROM identities WHERE run = ? AND state = 'check')",
        {UtcNow(), rows[0][0], rows[0][0]});
  });
  if (resolved) {
    out_ << normalized << (written ? ": written to its board, bound for good." : ": back in the pool.")
         << std::endl;
  }
  return resolved;
}
