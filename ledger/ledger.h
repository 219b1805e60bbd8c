// The identity ledger: pools of MAC addresses and serial numbers, the state of each (free, reserved
// for a run, written to a board, to check), every run with its record as last stored, and the
// leases of the stations that are running. Written once against Database, so SQLite and PostgreSQL
// behave alike. Every operation prints its own result on out and its own reason on err, and
// returns false on failure.
//
// Used inside a program (the station), from any thread:
//   - One Database and one Ledger per thread: OpenDatabase(url, false, limits, err), then
//     Ledger(*database, url.shown, out, err) and IsSetUp() once. Nothing is shared between two
//     Ledgers but the database itself; give each its own out and err (an std::ostringstream to
//     read the words from after each call).
//   - No call waits for ever: a statement that the server does not answer within
//     DatabaseLimits::statement (+2 s) fails, and a lost connection is made again for up to
//     DatabaseLimits::reconnect before the call fails. Run calls off any loop that must go on.
//   - A station's life: TakeLease(station, instance, 30 s) at its start (refused in words while
//     another live instance holds that name), then Recover(station), RenewLease every 10 s (false:
//     the lease was lost, stop taking runs), ReleaseLease at its end. Runs are opened with the
//     instance in RunOpening; Recover settles only runs whose instance holds no live lease.
//   - Reserve, OpenRun and Settle take the caller's request key: a call that failed because the
//     answer was lost may be made again with the same key, and is then answered from what was done
//     the first time, never done twice. Without a key the ledger makes one for the call (its own
//     retries are safe, the caller's are not).
//   - MaskLedgerUrl (ledger_url.h) gives the ledger's URL as it may be shown.
#pragma once

#include <chrono>
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
  // The caller's unique string for this request (see above); empty: the ledger makes one.
  std::optional<std::string> requestKey = std::nullopt;
  // The station's instance that holds its lease (TakeLease); empty for a station without one.
  std::optional<std::string> instance = std::nullopt;
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
  Ledger(Database& database, std::string name, std::ostream& out, std::ostream& err = std::cerr);

  // Makes the tables, or brings a ledger made by an earlier version up to date.
  bool Init();
  // Every other operation first checks that Init has run: "not set up" when the tables are not
  // there, the database's own words when it cannot be read.
  bool IsSetUp();

  // The lease of a running station: held by one instance (the caller's unique string, e.g.
  // NewStationInstance()) until duration has passed on the database's clock. Refused in words
  // while another instance holds a lease of that name that has not run out.
  bool TakeLease(const std::string& station, const std::string& instance, std::chrono::milliseconds duration);
  // The lease runs for its duration again from now. False when this instance no longer holds it
  // (it ran out and another instance took the name).
  bool RenewLease(const std::string& station, const std::string& instance);
  // The station ends: its name is free at once.
  bool ReleaseLease(const std::string& station, const std::string& instance);

  bool AddMacs(const MacRange& range);
  bool AddSerials(const SerialRange& range);

  // A new run with the next free MAC address and serial number, in one transaction. An empty
  // pool prints "Error: the MAC address pool is empty." (or the serial number pool) and reserves
  // nothing. Prints "RUN MAC,SERIAL".
  std::optional<Reservation> Reserve(const RunOpening& opening);
  // A new run that takes nothing from the pools (the board's identity was given).
  std::optional<int64_t> OpenRun(const RunOpening& opening);
  // Stores the record in the file at path as the run's, whole (the run goes on).
  bool StoreRecord(int64_t run, const std::string& path);
  // The run has ended: stores its record (when readable) and decides each reserved value from it:
  // written with that value, bound for good; not written, back to the pool; a record that cannot
  // tell, to check. A free pool value that the record shows on the board (typed by hand, or there
  // before its pool was added) is bound to the run too; one that the pools hold for another run
  // goes to check, and the audit tells. False, naming both runs, when the record shows a reserved
  // value written that the ledger meanwhile gave to another run.
  bool Settle(int64_t run, const std::string& path,
              const std::optional<std::string>& requestKey = std::nullopt);
  // A station's start: settles each of that station's runs left open by an instance without a
  // live lease (a station that was killed) from the record file it named, else from the record
  // last stored: a value written with the run's reservation is bound; every other reserved value is
  // to check, never back to the pool unseen. Runs of a live instance are left as they are.
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
  // False when a MAC address or serial number was written to two boards, a value that a run
  // wrote is free or held for another run, or a settle found a board holding another run's value.
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
                 bool recovering, const std::optional<std::string>& requestKey);
  // In a write transaction: was a request done before under key? Then *before holds its status
  // (true: done), *answer and *error what it printed on out and on err. A key given to another kind
  // of request leaves *before empty and says so in *error. False on a database failure.
  bool Replay(const std::string& key, const char* request, std::optional<bool>* before, std::string* answer,
              std::string* error);
  bool Remember(const std::string& key, const char* request, const std::optional<int64_t>& run,
                const std::string& answer, const std::string& error);
  bool StoreRecordColumns(int64_t run, const std::string& text, const RunRecord& record,
                          const std::optional<std::string>& path);
  std::optional<int64_t> InsertRun(const RunOpening& opening);
  bool AddPool(const char* kind, const std::optional<std::string>& prefix, const std::string& first,
               const std::string& last, uint64_t firstOrdinal, uint64_t count,
               const std::function<std::string(uint64_t)>& text);

  // Sql, once more after a lost connection (for what only reads).
  bool Read(const std::string& sql, const std::vector<SqlValue>& params, SqlRows* rows);

  Database& db_;
  std::string name_;
  std::ostream& out_;
  std::ostream& err_;
  std::string failure_;
};

// The columns of the runs report, as Runs prints them and as its CSV heads them.
const TextRow& RunColumns();
// False, after an error line, for a date that is not one.
bool IsLedgerDate(const std::string& text, std::ostream& err);

// Now, as runs are stamped: "2014-06-23T09:05:07.045Z".
std::string UtcNow();
// A string no other call or station makes: 32 random hex digits (request keys, instances).
std::string NewUniqueKey();
