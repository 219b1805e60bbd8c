// What the ledger tells: the pools' counts, a board's runs, the runs since a date, the audit.
#include <algorithm>
#include <iostream>
#include <map>
#include <regex>

#include "ledger/ledger.h"
#include "ledger/text_table.h"

namespace {


// The runs' rows with what became of their reserved values (a value no longer bound to the run
// went back to the pool).
const char* const kRunsQuery =
    "SELECT r.id, r.station, r.port, COALESCE(r.started, r.opened), r.result, r.exit_status, r.failed_step,"
    " COALESCE(r.programmed_serial, r.read_serial), COALESCE(r.programmed_mac, r.read_mac), r.mac, m.state,"
    " r.serial, s.state, r.log FROM runs r"
    " LEFT JOIN identities m ON m.kind = 'mac' AND m.value = r.mac AND m.run = r.id"
    " LEFT JOIN identities s ON s.kind = 'serial' AND s.value = r.serial AND s.run = r.id";

std::string Cell(const SqlValue& value) { return value ? *value : "-"; }

std::string PoolWords(const SqlValue& reserved, const SqlValue& state) {
  if (!reserved) return "";
  if (!state) return "returned";
  if (*state == "written") return "bound";
  if (*state == "check") return "to check";
  return *state;  // reserved: the run goes on
}

TextRow RunRow(const SqlRow& row) {
  const std::string mac = PoolWords(row[9], row[10]);
  const std::string serial = PoolWords(row[11], row[12]);
  std::string pool = mac == serial
                         ? mac
                         : "MAC " + (mac.empty() ? "-" : mac) + ", serial " + (serial.empty() ? "-" : serial);
  return {Cell(row[0]), Cell(row[1]), Cell(row[2]), Cell(row[3]), row[4] ? *row[4] : "no record",
          Cell(row[5]), Cell(row[6]), Cell(row[7]), Cell(row[8]), pool.empty() ? "-" : pool,
          Cell(row[13])};
}

// The WHERE clause of a filter, its values appended to params ("" for every run).
std::string RunConditions(const RunFilter& filter, std::vector<SqlValue>& params) {
  std::vector<std::string> conditions;
  auto add = [&](const std::string& condition, const std::string& value) {
    conditions.push_back(condition);
    params.push_back(value);
  };
  auto withoutZ = [](const std::string& time) {
    return !time.empty() && time.back() == 'Z' ? time.substr(0, time.size() - 1) : time;
  };
  if (!filter.since.empty()) add("COALESCE(r.started, r.opened) >= ?", withoutZ(filter.since));
  if (!filter.until.empty()) add("COALESCE(r.started, r.opened) < ?", withoutZ(filter.until));
  if (filter.station) add("r.station = ?", *filter.station);
  if (filter.port) add("r.port = ?", *filter.port);
  if (filter.result && *filter.result == "no record") {
    conditions.push_back("r.result IS NULL");
  } else if (filter.result) {
    add("r.result = ?", *filter.result);
  }
  if (filter.board) {
    add("? IN (r.mac, r.serial, r.read_mac, r.read_serial, r.programmed_mac, r.programmed_serial)",
        NormalizedIdentityValue(*filter.board));
  }
  if (filter.run) add("r.id = ?", std::to_string(*filter.run));
  std::string where;
  for (const std::string& condition : conditions) where += (where.empty() ? " WHERE " : " AND ") + condition;
  return where;
}

const char* KindWords(const std::string& kind) { return kind == "mac" ? "MAC addresses" : "serial numbers"; }

}  // namespace

const TextRow& RunColumns() {
  static const TextRow columns{"Run",         "Station",       "Port",        "Started", "Result", "Exit",
                               "Failed step", "Serial number", "MAC address", "Pool",    "Log"};
  return columns;
}

bool IsLedgerDate(const std::string& text, std::ostream& err) {
  // A date, or a date and a UTC time, as the records write them.
  static const std::regex kDate(R"(\d{4}-\d\d-\d\d(T\d\d:\d\d(:\d\d(\.\d{1,3})?)?Z?)?)");
  if (std::regex_match(text, kDate)) return true;
  err << "Error: '" << text << "' is no date: give 2014-06-23 or 2014-06-23T09:05 (UTC)." << std::endl;
  return false;
}

bool Ledger::Status() {
  SqlRows pools, counts, toCheck;
  if (!Sql("SELECT id, kind, range_first, range_last FROM pools ORDER BY kind, id", {}, &pools) ||
      !Sql("SELECT pool, state, COUNT(*) FROM identities GROUP BY pool, state", {}, &counts) ||
      !Sql("SELECT i.value, i.run, r.station, r.port FROM identities i LEFT JOIN runs r ON r.id = i.run"
           " WHERE i.state = 'check' ORDER BY i.kind, i.run",
           {}, &toCheck)) {
    return DatabaseFailed();
  }
  const std::vector<std::string> states{"free", "reserved", "written", "check"};
  std::map<std::string, std::map<std::string, long long>> perPool;  // pool -> state -> count
  for (const SqlRow& row : counts) perPool[*row[0]][*row[1]] += std::stoll(*row[2]);
  std::vector<TextRow> rows;
  std::map<std::string, std::map<std::string, long long>> perKind;
  for (const SqlRow& pool : pools) {
    TextRow row{*pool[0], KindWords(*pool[1]), *pool[2] + " to " + *pool[3]};
    for (const std::string& state : states) {
      row.push_back(std::to_string(perPool[*pool[0]][state]));
      perKind[*pool[1]][state] += perPool[*pool[0]][state];
    }
    rows.push_back(row);
  }
  PrintTable(out_, {"Pool", "Values", "Range", "Free", "Reserved", "Written", "To check"}, rows);
  for (const char* kind : {"mac", "serial"}) {
    auto& count = perKind[kind];
    out_ << KindWords(kind) << ": " << count["free"] << " free, " << count["reserved"] << " reserved, "
         << count["written"] << " written, " << count["check"] << " to check" << std::endl;
  }
  SqlRows stations;
  if (!Read(std::string("SELECT name, (expires - ") + db_.NowMilliseconds() +
                ") / 1000 FROM stations WHERE expires > " + db_.NowMilliseconds() + " ORDER BY name",
            {}, &stations)) {
    return DatabaseFailed();
  }
  for (const SqlRow& row : stations) {
    out_ << "Station " << *row[0] << " is running (its lease runs for " << *row[1] << " s more)."
         << std::endl;
  }
  if (!toCheck.empty()) {
    out_ << "To check (look at the board, then: brenlofix-ledger resolve VALUE written|free):" << std::endl;
    for (const SqlRow& row : toCheck) {
      out_ << "  " << *row[0] << "  run " << Cell(row[1]) << ", station " << Cell(row[2]) << ", port "
           << Cell(row[3]) << std::endl;
    }
  }
  return true;
}

bool Ledger::Find(const std::string& text) {
  const std::string value = NormalizedIdentityValue(text);
  SqlRows identities, runs;
  if (!Sql("SELECT i.kind, i.pool, i.state, i.run FROM identities i WHERE i.value = ?", {value},
           &identities) ||
      !Sql(std::string(kRunsQuery) + " WHERE ? IN (r.mac, r.serial, r.read_mac, r.read_serial, "
                                     "r.programmed_mac, r.programmed_serial)"
                                     " ORDER BY COALESCE(r.started, r.opened), r.id",
           {value}, &runs)) {
    return DatabaseFailed();
  }
  for (const SqlRow& row : identities) {
    const std::string& state = *row[2];
    out_ << value << ": " << (*row[0] == "mac" ? "MAC address" : "serial number") << " of pool " << *row[1]
         << ", " << (state == "check" ? "to check" : state) << (row[3] ? " (run " + *row[3] + ")" : "")
         << std::endl;
  }
  if (identities.empty() && runs.empty()) {
    out_ << "No run and no pool holds " << value << "." << std::endl;
    return false;
  }
  std::vector<TextRow> rows;
  for (const SqlRow& row : runs) rows.push_back(RunRow(row));
  if (!rows.empty()) PrintTable(out_, RunColumns(), rows);
  // Which images each run flashed, from its record.
  for (const SqlRow& row : runs) {
    SqlRows record;
    if (!Sql("SELECT record FROM runs WHERE id = ?", {row[0]}, &record) || record.empty() || !record[0][0])
      continue;
    const RunRecord parsed = ParseRunRecord(*record[0][0]);
    if (parsed.images.empty()) continue;
    out_ << "Run " << *row[0] << " images:";
    for (size_t i = 0; i < parsed.images.size(); ++i) out_ << (i ? ", " : " ") << parsed.images[i];
    out_ << std::endl;
  }
  return true;
}

bool Ledger::RunRows(const RunFilter& filter, std::vector<TextRow>* rows) {
  if ((!filter.since.empty() && !IsLedgerDate(filter.since, err_)) ||
      (!filter.until.empty() && !IsLedgerDate(filter.until, err_))) {
    return false;
  }
  std::vector<SqlValue> params;
  std::string sql = std::string(kRunsQuery) + RunConditions(filter, params) + " ORDER BY COALESCE(r.started, r.opened)" +
                    (filter.newestFirst ? " DESC, r.id DESC" : ", r.id");
  if (filter.limit > 0) {
    sql += " LIMIT " + std::to_string(filter.limit) + " OFFSET " + std::to_string(std::max<int64_t>(0, filter.offset));
  }
  SqlRows runs;
  if (!Sql(sql, params, &runs)) return DatabaseFailed();
  for (const SqlRow& row : runs) rows->push_back(RunRow(row));
  return true;
}

std::optional<int64_t> Ledger::CountRuns(const RunFilter& filter) {
  std::vector<SqlValue> params;
  SqlRows count;
  if (!Sql("SELECT COUNT(*) FROM runs r" + RunConditions(filter, params), params, &count)) {
    DatabaseFailed();
    return std::nullopt;
  }
  return std::stoll(*count.at(0).at(0));
}

bool Ledger::Runs(const RunFilter& filter, bool csv) {
  std::vector<TextRow> rows;
  if (!RunRows(filter, &rows)) return false;
  if (csv) {
    PrintCsv(out_, RunColumns(), rows);
    return true;
  }
  std::map<std::string, int> results;
  for (const TextRow& row : rows) ++results[row[4]];
  PrintTable(out_, RunColumns(), rows);
  out_ << rows.size() << (rows.size() == 1 ? " run" : " runs") << " since " << filter.since;
  const char* separator = ": ";
  for (const auto& [result, count] : results) {
    out_ << separator << count << " " << result;
    separator = ", ";
  }
  out_ << "." << std::endl;
  return true;
}

bool Ledger::Audit() {
  int problems = 0;
  SqlRows count;
  if (!Read("SELECT COUNT(*) FROM runs", {}, &count)) {
    return DatabaseFailed();
  }
  for (const char* kind : {"mac", "serial"}) {
    const std::string column = std::string("assigned_") + kind;
    SqlRows assigned, loose;
    if (!Sql("SELECT " + column + ", id FROM runs WHERE " + column + " IS NOT NULL ORDER BY " + column +
                 ", id",
             {}, &assigned) ||
        !Sql("SELECT i.value, i.state, i.run, r.id FROM runs r JOIN identities i ON i.kind = ? AND i.value = "
             "r." +
                 column +
                 " WHERE (i.state = 'free' OR (i.state IN ('reserved', 'check') AND i.run <> r.id))"
                 " AND NOT EXISTS (SELECT 1 FROM conflicts c"
                 " WHERE c.kind = i.kind AND c.value = i.value AND c.run = r.id)"
                 " ORDER BY r.id",
             {kind}, &loose)) {
      return DatabaseFailed();
    }
    // A value given to two boards: each run that wrote it onto a board that did not hold it.
    for (size_t first = 0; first < assigned.size();) {
      size_t end = first + 1;
      while (end < assigned.size() && assigned[end][0] == assigned[first][0]) ++end;
      if (end - first > 1) {
        ++problems;
        out_ << *assigned[first][0] << " was written to " << end - first << " boards, by runs";
        for (size_t i = first; i < end; ++i) out_ << (i == first ? " " : ", ") << *assigned[i][1];
        out_ << "." << std::endl;
      }
      first = end;
    }
    for (const SqlRow& row : loose) {
      ++problems;
      out_ << *row[0] << " is "
           << (*row[1] == "free"       ? "free in the pool"
               : *row[1] == "reserved" ? "reserved for run " + Cell(row[2])
                                       : "to check for run " + Cell(row[2]))
           << ", but run " << *row[3] << " wrote it to a board." << std::endl;
    }
  }
  // Kept identities: a board that kept a value another run wrote is that run's board flashed again
  // when it also holds that run's other value; with another one beside it, it is a second board.
  for (const auto& [kind, other] : {std::pair{"mac", "serial"}, std::pair{"serial", "mac"}}) {
    const std::string read = std::string("read_") + kind, otherRead = std::string("read_") + other;
    SqlRows kept;
    if (!Read("SELECT k." + read + ", a.id, a.programmed_" + other + ", k.id, k." + otherRead +
                  " FROM runs k JOIN runs a ON a.assigned_" + kind + " = k." + read + " AND a.id <> k.id" +
                  " WHERE k.assigned_" + kind + " IS NULL AND k.result IS NOT NULL AND COALESCE(k." +
                  otherRead + ", '') <> COALESCE(a.programmed_" + other +
                  ", '') AND NOT EXISTS (SELECT 1 FROM conflicts c"
                  " WHERE c.kind = ? AND c.value = k." +
                  read + " AND c.run = k.id) ORDER BY k.id, a.id",
              {kind}, &kept)) {
      return DatabaseFailed();
    }
    for (const SqlRow& row : kept) {
      ++problems;
      out_ << *row[0] << " is on two boards: run " << *row[1] << " wrote it (with " << Cell(row[2])
           << "), and run " << *row[3] << "'s board kept it (with " << Cell(row[4]) << ")." << std::endl;
    }
  }
  // What settling found: a board holding a value the ledger had given to another run.
  SqlRows conflicts;
  if (!Read("SELECT words FROM conflicts ORDER BY id", {}, &conflicts)) return DatabaseFailed();
  for (const SqlRow& row : conflicts) {
    ++problems;
    out_ << *row[0] << "." << std::endl;
  }
  out_ << "Audit of " << *count[0][0] << " runs: "
       << (problems ? std::to_string(problems) + (problems == 1 ? " problem." : " problems.")
                    : "no MAC address or serial number was written to two boards.")
       << std::endl;
  return problems == 0;
}
