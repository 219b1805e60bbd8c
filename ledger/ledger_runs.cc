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

// The file's text; empty after an error line, when asked for.
std::optional<std::string> ReadRecordFile(const std::string& path, bool sayWhy = true) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    if (sayWhy)
      std::cerr << "Error: cannot read the run's record " << path << " (" << std::strerror(errno) << ")."
                << std::endl;
    return std::nullopt;
  }
  return text.str();
}

}  // namespace

std::optional<int64_t> Ledger::InsertRun(const RunOpening& opening) {
  SqlRows rows;
  if (!Sql("INSERT INTO runs (station, port, record_path, opened) VALUES (?, ?, ?, ?) RETURNING id",
           {opening.station, opening.port, opening.recordPath, UtcNow()}, &rows)) {
    return std::nullopt;
  }
  return std::stoll(*rows.at(0).at(0));
}

std::optional<Reservation> Ledger::Reserve(const RunOpening& opening) {
  Reservation reservation;
  const bool reserved = Write([&] {
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
        std::cerr << "Error: the " << pool.poolWords << " pool is empty." << std::endl;
        return false;
      }
      (pool.kind == kMacs.kind ? reservation.mac : reservation.serial) = *taken[0][0];
    }
    return Sql("UPDATE runs SET mac = ?, serial = ? WHERE id = ?",
               {reservation.mac, reservation.serial, std::to_string(*run)});
  });
  if (!reserved) return std::nullopt;
  out_ << reservation.run << " " << reservation.mac << "," << reservation.serial << std::endl;
  return reservation;
}

std::optional<int64_t> Ledger::OpenRun(const RunOpening& opening) {
  std::optional<int64_t> run;
  if (!Write([&] { return (run = InsertRun(opening)).has_value(); })) return std::nullopt;
  out_ << *run << std::endl;
  return run;
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
  if (updated.empty()) std::cerr << "Error: the ledger holds no run " << run << "." << std::endl;
  return !updated.empty();
}

bool Ledger::StoreRecord(int64_t run, const std::string& path) {
  const auto text = ReadRecordFile(path);
  if (!text) return false;
  const RunRecord record = ParseRunRecord(*text);
  if (!record.readable) {
    std::cerr << "Error: " << path << " holds no run's record (no JSON object)." << std::endl;
    return false;
  }
  return Write([&] { return StoreRecordColumns(run, *text, record, path); });
}

bool Ledger::Settle(int64_t run, const std::string& path) {
  // A record that cannot be read still settles the run: its values are then to check.
  return SettleRun(run, ReadRecordFile(path), path, false);
}

bool Ledger::SettleRun(int64_t run, const std::optional<std::string>& text,
                       const std::optional<std::string>& path, bool recovering) {
  const RunRecord record = ParseRunRecord(text.value_or(""));
  std::string words;
  bool reservedAny = false;
  bool open = false;
  const bool settled = Write([&] {
    words.clear();
    open = false;
    SqlRows rows;
    if (!Sql("SELECT mac, serial FROM runs WHERE id = ?", {std::to_string(run)}, &rows)) return false;
    if (rows.empty()) {
      std::cerr << "Error: the ledger holds no run " << run << "." << std::endl;
      return false;
    }
    if (record.readable && !StoreRecordColumns(run, *text, record, path)) return false;
    for (const PoolKind& pool : {kMacs, kSerials}) {
      const SqlValue& reserved = rows[0][pool.kind == kMacs.kind ? 0 : 1];
      const auto onBoard = record.OnBoard(pool.recordKey);
      if (reserved) {
        reservedAny = true;
        IdentityFate fate = FateOfReserved(record, pool.recordKey, *reserved);
        if (recovering && fate == IdentityFate::kReturned) fate = IdentityFate::kToCheck;
        SqlRows changed;
        if (!Sql("UPDATE identities SET state = ?, run = ? WHERE kind = ? AND value = ? AND run = ?"
                 " AND state IN ('reserved', 'check') RETURNING value",
                 {Of(fate).state, fate == IdentityFate::kReturned ? SqlValue() : std::to_string(run),
                  pool.kind, *reserved, std::to_string(run)},
                 &changed)) {
          return false;
        }
        if (!changed.empty()) words += (words.empty() ? " " : ", ") + *reserved + " " + Of(fate).words;
        open = open || (fate == IdentityFate::kToCheck && !changed.empty());
      }
      // A free pool value that a board holds (typed by hand, or there before the pool was added) is
      // that board's: it is never to be handed out.
      if (onBoard && onBoard != reserved) {
        SqlRows bound;
        if (!Sql("UPDATE identities SET state = 'written', run = ? WHERE kind = ? AND value = ? AND state = "
                 "'free'"
                 " RETURNING value",
                 {std::to_string(run), pool.kind, *onBoard}, &bound)) {
          return false;
        }
        if (!bound.empty())
          words += (words.empty() ? " " : ", ") + *onBoard + " (on the board, was free) bound";
      }
    }
    return Sql("UPDATE runs SET settled = ? WHERE id = ?",
               {open ? SqlValue() : UtcNow(), std::to_string(run)});
  });
  if (settled) {
    out_ << "Run " << run << ":"
         << (!words.empty() ? words
             : reservedAny  ? " nothing left to settle"
                            : " nothing from the pools")
         << (!open        ? "."
             : recovering ? " (its station stopped before it settled the run)."
                          : " (the run's record does not tell whether it was written).")
         << std::endl;
  }
  return settled;
}

bool Ledger::Recover(const std::string& station) {
  SqlRows open;
  if (!Sql("SELECT id, record_path, record FROM runs WHERE station = ? AND settled IS NULL ORDER BY id",
           {station}, &open)) {
    return DatabaseFailed();
  }
  bool all = true;
  for (const SqlRow& row : open) {
    // The file is newer than what the killed station stored last, if the run went on without it.
    std::optional<std::string> text;
    if (row[1]) text = ReadRecordFile(*row[1], false);
    if (!text || !ParseRunRecord(*text).readable) text = row[2];
    all = SettleRun(std::stoll(*row[0]), text, row[1], true) && all;
  }
  if (open.empty()) out_ << "No run of station " << station << " was left open." << std::endl;
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
      std::cerr << "Error: " << normalized << " is not to check." << std::endl;
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
