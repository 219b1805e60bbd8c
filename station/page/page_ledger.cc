#include "station/page/page_ledger.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <sstream>

#include "ledger/database.h"

using Json = nlohmann::json;

namespace {

// Record texts a query fetches at a time.
constexpr size_t kRecordsPerQuery = 200;
// The station's recent runs that its step medians come from.
constexpr int kMedianRuns = 200;

const char* const kRunKeys[] = {"run", "station", "port", "started", "result", "exit",
                                "failedStep", "serial", "mac", "pool", "log"};

// One row of the runs report as JSON: "-" (nothing) becomes null, the numbers numbers.
Json RunObject(const TextRow& row) {
  Json run = Json::object();
  for (size_t i = 0; i < row.size() && i < std::size(kRunKeys); ++i) {
    const std::string key = kRunKeys[i];
    if (row[i] == "-") {
      run[key] = nullptr;
    } else if ((key == "run" || key == "exit") && row[i].find_first_not_of("-0123456789") == std::string::npos) {
      run[key] = std::stoll(row[i]);
    } else {
      run[key] = row[i];
    }
  }
  return run;
}

RunSteps ParseSteps(const std::optional<std::string>& text) {
  RunSteps parsed;
  if (!text) return parsed;
  const Json record = Json::parse(*text, nullptr, false);
  if (!record.is_object()) return parsed;
  const Json result = record.value("result", Json());
  parsed.final = result.is_string() && result.get<std::string>() != "running";
  const Json error = record.value("error", Json());
  if (error.is_string()) parsed.error = error.get<std::string>();
  const Json steps = record.value("steps", Json());
  if (!steps.is_array()) return parsed;
  for (const Json& step : steps) {
    if (!step.is_object()) continue;
    RunSteps::Step one;
    const Json number = step.value("step", Json()), name = step.value("name", Json()),
               stepResult = step.value("result", Json()), attempts = step.value("attempts", Json()),
               seconds = step.value("seconds", Json());
    if (number.is_number_integer()) one.number = number.get<int>();
    if (name.is_string()) one.name = name.get<std::string>();
    if (stepResult.is_string()) one.result = stepResult.get<std::string>();
    if (attempts.is_number_integer()) one.attempts = attempts.get<int>();
    if (seconds.is_number()) one.seconds = seconds.get<double>();
    parsed.retried = parsed.retried || one.attempts > 1;
    parsed.steps.push_back(one);
  }
  return parsed;
}

// "2014-06-23" and the number of days after it, as a date again.
std::string DayAfter(const std::string& day, int days) {
  std::tm tm{};
  tm.tm_year = std::stoi(day.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(day.substr(5, 2)) - 1;
  tm.tm_mday = std::stoi(day.substr(8, 2)) + days;
  const std::time_t seconds = timegm(&tm);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

bool IsDay(const std::string& text) {
  return text.size() == 10 && text[4] == '-' && text[7] == '-' &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

Json StepTimesJson(const StepTimes& times) {
  Json steps = Json::array();
  for (auto [key, seconds] : times) {
    std::sort(seconds.begin(), seconds.end());
    steps.push_back({{"step", key.first},
                     {"name", key.second},
                     {"count", seconds.size()},
                     {"median", Median(seconds)},
                     {"p95", Percentile(seconds, 95)}});
  }
  return steps;
}

}  // namespace

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

double Median(const std::vector<double>& sorted) {
  if (sorted.empty()) return 0;
  const size_t half = sorted.size() / 2;
  return sorted.size() % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
}

std::optional<double> UtcSeconds(const std::string& text) {
  int year, month, day, hour, minute, second, milliseconds = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &year, &month, &day, &hour, &minute, &second,
                  &milliseconds) < 6) {
    return std::nullopt;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<double>(timegm(&tm)) + milliseconds / 1000.0;
}

struct PageLedger::Connection {
  std::unique_ptr<Database> database;
  std::ostringstream out;  // what the ledger's reports would print
  std::ostringstream err;  // and their reasons
  std::unique_ptr<Ledger> ledger;
};

PageLedger::PageLedger(std::string url, std::function<void(const std::string&)> log)
    : url_(std::move(url)), log_(std::move(log)) {}

bool PageLedger::Failed(Connection* connection, std::string* words, const std::string& what) {
  ++errors_;
  *words = "Error: cannot read " + what + " from the ledger (the station's output says why).";
  std::string reasons = connection ? connection->err.str() : std::string();
  if (connection && connection->database && reasons.empty()) reasons = connection->database->Error();
  if (connection) connection->err.str("");
  std::istringstream lines(reasons);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    line = "The page: " + MaskLedgerSecrets(line, url_);
    if (log_) {
      log_(line);
    } else {
      std::cerr << line << std::endl;
    }
  }
  return false;
}

std::unique_ptr<PageLedger::Connection> PageLedger::Open(std::string* words) {
  if (url_.empty()) {
    *words = "This station keeps no ledger: it has no runs, yield or history to show.";
    return nullptr;
  }
  auto connection = std::make_unique<Connection>();
  // A page waits for the ledger a few seconds at most; the next request tries again.
  DatabaseLimits limits;
  limits.statement = std::chrono::seconds(10);
  limits.reconnect = std::chrono::seconds(0);
  limits.connectSeconds = 5;
  const auto url = ParseLedgerUrl(url_, connection->err);
  if (url) connection->database = OpenDatabase(*url, false, limits, connection->err);
  if (!connection->database) {
    Failed(connection.get(), words, "anything");
    return nullptr;
  }
  connection->ledger = std::make_unique<Ledger>(*connection->database, url->shown, connection->out, connection->err);
  if (!connection->ledger->IsSetUp()) {
    Failed(connection.get(), words, "anything");
    return nullptr;
  }
  return connection;
}

std::optional<Json> PageLedger::Runs(const RunFilter& filter, std::string* words) {
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  std::vector<TextRow> rows;
  const auto total = connection->ledger->CountRuns(filter);
  if (!total || !connection->ledger->RunRows(filter, &rows)) {
    Failed(connection.get(), words, "the runs");
    return std::nullopt;
  }
  Json runs = Json::array();
  for (const TextRow& row : rows) runs.push_back(RunObject(row));
  return Json{{"total", *total}, {"runs", runs}};
}

std::optional<std::string> PageLedger::RunsCsv(const RunFilter& filter, std::string* words) {
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  if (!connection->ledger->Runs(filter, true)) {
    Failed(connection.get(), words, "the runs");
    return std::nullopt;
  }
  return connection->out.str();
}

std::optional<Json> PageLedger::RunFiles(int64_t run, std::string* words) {
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  SqlRows rows;
  if (!connection->database->Run("SELECT station, record_path FROM runs WHERE id = ?", {std::to_string(run)},
                                 &rows)) {
    Failed(connection.get(), words, "the run");
    return std::nullopt;
  }
  if (rows.empty()) return Json(nullptr);
  return Json{{"station", rows[0][0].value_or("")},
              {"recordPath", rows[0][1] ? Json(*rows[0][1]) : Json(nullptr)}};
}

std::optional<Json> PageLedger::Run(int64_t run, std::string* words) {
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  RunFilter one;
  one.run = run;
  std::vector<TextRow> rows;
  SqlRows record;
  if (!connection->ledger->RunRows(one, &rows) ||
      !connection->database->Run("SELECT record, serial, mac, read_serial, read_mac, programmed_serial,"
                                 " programmed_mac FROM runs WHERE id = ?",
                                 {std::to_string(run)}, &record)) {
    Failed(connection.get(), words, "the run");
    return std::nullopt;
  }
  if (rows.empty() || record.empty()) return Json(nullptr);
  Json answer{{"run", RunObject(rows[0])}, {"record", nullptr}, {"earlier", Json::array()}};
  if (record[0][0]) {
    const Json parsed = Json::parse(*record[0][0], nullptr, false);
    if (!parsed.is_discarded()) answer["record"] = parsed;
  }
  // The runs of every serial number and MAC address this run had to do with.
  std::map<int64_t, Json> earlier;
  for (size_t column = 1; column < record[0].size(); ++column) {
    if (!record[0][column]) continue;
    RunFilter board;
    board.board = *record[0][column];
    std::vector<TextRow> boardRows;
    if (!connection->ledger->RunRows(board, &boardRows)) {
      Failed(connection.get(), words, "the board's runs");
      return std::nullopt;
    }
    for (const TextRow& row : boardRows) {
      const Json object = RunObject(row);
      if (object["run"] != run) earlier[object["run"].get<int64_t>()] = object;
    }
  }
  for (auto it = earlier.rbegin(); it != earlier.rend(); ++it) answer["earlier"].push_back(it->second);
  return answer;
}

std::map<int64_t, RunSteps> PageLedger::Steps(Connection& connection, const std::vector<int64_t>& runs,
                                              bool* ok) {
  std::map<int64_t, RunSteps> steps;
  std::vector<int64_t> missing;
  {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    for (int64_t run : runs) {
      const auto cached = cache_.find(run);
      if (cached != cache_.end()) {
        steps[run] = cached->second;
      } else {
        missing.push_back(run);
      }
    }
  }
  for (size_t first = 0; first < missing.size(); first += kRecordsPerQuery) {
    const size_t end = std::min(missing.size(), first + kRecordsPerQuery);
    std::string sql = "SELECT id, record FROM runs WHERE id IN (";
    std::vector<SqlValue> params;
    for (size_t i = first; i < end; ++i) {
      sql += i == first ? "?" : ", ?";
      params.push_back(std::to_string(missing[i]));
    }
    SqlRows rows;
    if (!connection.database->Run(sql + ")", params, &rows)) {
      *ok = false;
      return steps;
    }
    std::lock_guard<std::mutex> lock(cacheMutex_);
    for (const SqlRow& row : rows) {
      const int64_t run = std::stoll(*row[0]);
      steps[run] = ParseSteps(row[1]);
      if (steps[run].final) cache_[run] = steps[run];
    }
  }
  *ok = true;
  return steps;
}

std::optional<Json> PageLedger::StepMedians(const std::optional<std::string>& station, std::string* words) {
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  SqlRows rows;
  std::vector<SqlValue> params;
  std::string sql = "SELECT id FROM runs WHERE record IS NOT NULL";
  if (station) {
    sql += " AND station = ?";
    params.push_back(*station);
  }
  sql += " ORDER BY COALESCE(started, opened) DESC, id DESC LIMIT " + std::to_string(kMedianRuns);
  bool ok = connection->database->Run(sql, params, &rows);
  std::vector<int64_t> runs;
  for (const SqlRow& row : rows) runs.push_back(std::stoll(*row[0]));
  const auto steps = ok ? Steps(*connection, runs, &ok) : std::map<int64_t, RunSteps>();
  if (!ok) {
    Failed(connection.get(), words, "the step times");
    return std::nullopt;
  }
  StepTimes times;
  for (const auto& [run, parsed] : steps) {
    for (const RunSteps::Step& step : parsed.steps) {
      if (step.result == "succeeded") times[{step.number, step.name}].push_back(step.seconds);
    }
  }
  return Json{{"steps", StepTimesJson(times)}};
}

std::optional<Json> PageLedger::Yield(const std::string& from, const std::string& to,
                                      const std::optional<std::string>& station, std::string* words) {
  if (!IsDay(from) || !IsDay(to)) {
    *words = "Error: give the period's first and last day as 2014-06-23.";
    return std::nullopt;
  }
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  std::vector<SqlValue> params{from, DayAfter(to, 1)};
  std::string sql =
      "SELECT id, COALESCE(started, opened), finished, result, failed_step FROM runs"
      " WHERE COALESCE(started, opened) >= ? AND COALESCE(started, opened) < ?";
  if (station) {
    sql += " AND station = ?";
    params.push_back(*station);
  }
  SqlRows rows;
  bool ok = connection->database->Run(sql + " ORDER BY COALESCE(started, opened), id", params, &rows);
  std::vector<int64_t> runs;
  for (const SqlRow& row : rows) runs.push_back(std::stoll(*row[0]));
  const auto steps = ok ? Steps(*connection, runs, &ok) : std::map<int64_t, RunSteps>();
  if (!ok) {
    Failed(connection.get(), words, "the yield");
    return std::nullopt;
  }

  int64_t succeeded = 0, failed = 0, ended = 0, firstPass = 0;
  std::map<std::string, std::map<std::string, int64_t>> failures;  // step -> words -> runs
  std::map<std::string, std::pair<int64_t, int64_t>> hours;        // "2014-06-23T09" -> succeeded, failed
  StepTimes times;
  std::vector<double> runSeconds;
  for (const SqlRow& row : rows) {
    const RunSteps& parsed = steps.at(std::stoll(*row[0]));
    const std::string result = row[3].value_or("");
    for (const RunSteps::Step& step : parsed.steps) {
      if (step.result == "succeeded") times[{step.number, step.name}].push_back(step.seconds);
    }
    const bool final = result == "succeeded" || result == "failed" || result == "interrupted" || result == "rejected";
    if (!final) continue;
    ++ended;
    const std::string hour = row[2] ? row[2]->substr(0, 13) : row[1]->substr(0, 13);
    if (result == "succeeded") {
      ++succeeded;
      ++hours[hour].first;
      if (!parsed.retried) ++firstPass;
      const auto start = row[1] ? UtcSeconds(*row[1]) : std::nullopt;
      const auto end = row[2] ? UtcSeconds(*row[2]) : std::nullopt;
      if (start && end) runSeconds.push_back(*end - *start);
    } else if (result == "failed") {
      ++failed;
      ++hours[hour].second;
      ++failures[row[4].value_or("(no step)")][parsed.error];
    }
  }

  // The failing steps, most failures first, each with its share of all failures so far.
  std::vector<std::pair<int64_t, std::string>> order;
  for (const auto& [step, byWords] : failures) {
    int64_t count = 0;
    for (const auto& [text, runsWithIt] : byWords) count += runsWithIt;
    order.push_back({count, step});
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  Json pareto = Json::array();
  int64_t cumulative = 0;
  for (const auto& [count, step] : order) {
    cumulative += count;
    Json byWords = Json::array();
    for (const auto& [text, runsWithIt] : failures[step]) byWords.push_back({{"words", text}, {"runs", runsWithIt}});
    pareto.push_back({{"step", step},
                      {"runs", count},
                      {"cumulativePercent", 100.0 * static_cast<double>(cumulative) / static_cast<double>(failed)},
                      {"words", byWords}});
  }
  Json perHour = Json::array();
  for (const auto& [hour, counts] : hours) {
    perHour.push_back({{"hour", hour + ":00Z"}, {"succeeded", counts.first}, {"failed", counts.second}});
  }
  std::sort(runSeconds.begin(), runSeconds.end());
  const int64_t started = static_cast<int64_t>(rows.size());
  return Json{{"from", from},
              {"to", to},
              {"station", station ? Json(*station) : Json(nullptr)},
              {"started", started},
              {"ended", ended},
              {"succeeded", succeeded},
              {"failed", failed},
              {"firstPass", firstPass},
              {"firstPassYield", ended ? Json(static_cast<double>(firstPass) / static_cast<double>(ended)) : Json()},
              {"failuresByStep", pareto},
              {"boardsPerHour", perHour},
              {"runTime", {{"count", runSeconds.size()}, {"median", Median(runSeconds)}, {"p95", Percentile(runSeconds, 95)}}},
              {"stepTimes", StepTimesJson(times)}};
}

std::optional<PageLedger::Counts> PageLedger::MetricsCounts(const std::optional<std::string>& station,
                                                             std::string* words) {
  const auto connection = Open(words);
  if (!connection) return std::nullopt;
  std::vector<SqlValue> params;
  std::string where;
  if (station) {
    where = " WHERE station = ?";
    params.push_back(*station);
  }
  SqlRows results, ids, pools;
  bool ok = connection->database->Run(
                "SELECT COALESCE(result, 'no record'), COALESCE(failed_step, ''), COUNT(*) FROM runs" + where +
                    " GROUP BY COALESCE(result, 'no record'), COALESCE(failed_step, '')",
                params, &results) &&
            connection->database->Run("SELECT id FROM runs" + where, params, &ids) &&
            connection->database->Run(
                "SELECT p.id, p.kind, (SELECT COUNT(*) FROM identities i WHERE i.pool = p.id AND i.state = 'free')"
                " FROM pools p ORDER BY p.id",
                {}, &pools);
  std::vector<int64_t> runs;
  for (const SqlRow& row : ids) runs.push_back(std::stoll(*row[0]));
  const auto steps = ok ? Steps(*connection, runs, &ok) : std::map<int64_t, RunSteps>();
  if (!ok) {
    Failed(connection.get(), words, "the counts");
    return std::nullopt;
  }
  Counts counts;
  for (const SqlRow& row : results) counts.runs[{*row[0], *row[1]}] = std::stoll(*row[2]);
  for (const auto& [run, parsed] : steps) {
    for (const RunSteps::Step& step : parsed.steps) {
      if (step.result == "succeeded") counts.steps[{step.number, step.name}].push_back(step.seconds);
    }
  }
  for (const SqlRow& row : pools) counts.freeValues.emplace_back(*row[0], *row[1], std::stoll(*row[2]));
  return counts;
}
