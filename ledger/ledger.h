// The identity ledger: pools of MAC addresses and serial numbers, the state of each (free, reserved
// for a run, written to a board, to check), and every run with its record as last stored. Written
// once against Database, so SQLite and PostgreSQL behave alike. Every operation prints its own
// result on out and its own reason on standard error, and returns false on failure.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "ledger/database.h"
#include "ledger/identity_values.h"
#include "ledger/run_record.h"
#include "ledger/text_table.h"

// What the station tells of a run it opens.
struct RunOpening {
  std::string station;
  std::optional<std::string> port;
  std::optional<std::string> recordPath;  // where BrenloFix writes the run's record
};

// Which runs a report lists: each field given narrows it; "" or empty means any.
struct RunFilter {
  std::string since;  // a date, or a date and a UTC time, as the records write them ("" = from the first)
  std::string until;  // runs started before this ("" = up to now)
  std::optional<std::string> station, port;
  std::optional<std::string> result;  // the Result column's word: "succeeded", ..., "no record"
  std::optional<std::string> board;   // a serial number or MAC address the run reserved, read or programmed
  std::optional<int64_t> run;
  bool newestFirst = false;
  int64_t limit = 0;  // 0: every run
  int64_t offset = 0;
};

struct Reservation {
  int64_t run = 0;
  std::string mac;
  std::string serial;
};

class Ledger {
 public:
  // name: the ledger's URL as it may be shown.
  Ledger(Database& database, std::string name, std::ostream& out);

  // Makes the tables, or leaves the ones there as they are.
  bool Init();
  // Every other operation first checks that Init has run.
  bool IsSetUp();

  bool AddMacs(const MacRange& range);
  bool AddSerials(const SerialRange& range);

  // A new run with the next free MAC address and serial number, in one transaction. An empty
  // pool prints "Error: the MAC address pool is empty." (or the serial number pool) and reserves
  // nothing.
  std::optional<Reservation> Reserve(const RunOpening& opening);
  // A new run that takes nothing from the pools (the board's identity was given).
  std::optional<int64_t> OpenRun(const RunOpening& opening);
  // Stores the record in the file at path as the run's, whole (the run goes on).
  bool StoreRecord(int64_t run, const std::string& path);
  // The run has ended: stores its record (when readable) and decides each reserved value from it:
  // written with that value, bound for good; not written, back to the pool; a record that cannot
  // tell, to check. A free pool value that the record shows on the board (typed by hand, or there
  // before its pool was added) is bound to the run too.
  bool Settle(int64_t run, const std::string& path);
  // A station's start: settles each of that station's runs left open (a station that was killed)
  // from the record file it named, else from the record last stored: a value written with the run's
  // reservation is bound; every other reserved value is to check, never back to the pool unseen.
  bool Recover(const std::string& station);
  // Someone looked at the board of an identity value "to check": it is on a board ("written") or
  // not ("free").
  bool Resolve(const std::string& value, bool written);

  bool Status();
  // Runs that reserved, read or programmed the value (a MAC address or a serial number); false when
  // neither a run nor a pool holds it.
  bool Find(const std::string& value);
  bool Runs(const RunFilter& filter, bool csv);
  // The rows Runs prints (its columns: RunColumns()), without printing; false after an error line.
  bool RunRows(const RunFilter& filter, std::vector<TextRow>* rows);
  std::optional<int64_t> CountRuns(const RunFilter& filter);
  // False when a MAC address or serial number was written to two boards, or a value that a run
  // wrote is free or reserved for another run.
  bool Audit();

 private:
  bool Sql(const std::string& sql, const std::vector<SqlValue>& params = {}, SqlRows* rows = nullptr);
  // Prints the failure Sql kept; false.
  bool DatabaseFailed() const;
  // Runs body in a write transaction, again when the database undid it for a conflict. Without a
  // database failure, a body that returns false has printed why.
  bool Write(const std::function<bool()>& body);
  // recovering: the run's station stopped before it settled the run; only a value the record shows
  // written is decided then, every other one is to check.
  bool SettleRun(int64_t run, const std::optional<std::string>& text, const std::optional<std::string>& path,
                 bool recovering);
  bool StoreRecordColumns(int64_t run, const std::string& text, const RunRecord& record,
                          const std::optional<std::string>& path);
  std::optional<int64_t> InsertRun(const RunOpening& opening);
  bool AddPool(const char* kind, const std::optional<std::string>& prefix, const std::string& first,
               const std::string& last, uint64_t firstOrdinal, uint64_t count,
               const std::function<std::string(uint64_t)>& text);

  Database& db_;
  std::string name_;
  std::ostream& out_;
  std::string failure_;
};

// The columns of the runs report, as Runs prints them and as its CSV heads them.
const TextRow& RunColumns();
// False, after an error line, for a date that is not one.
bool IsLedgerDate(const std::string& text);

// Now, as runs are stamped: "2014-06-23T09:05:07.045Z".
std::string UtcNow();
