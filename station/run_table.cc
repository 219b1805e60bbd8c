// The table at the station's end, read from each run's record.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "station/station_run.h"

namespace {

using Json = nlohmann::json;

// What BrenloFix programs on a board that holds none with --factory-identity.
const Identity kPlaceholder{"02:1B:4D:00:00:00", "QV4N150101XXX"};
// How an unattended run given no identity ends on a board that holds none.
constexpr char kNoIdentity[] = "The board holds no serial number and MAC address";

std::optional<Json> ReadRecord(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Json record = Json::parse(text, nullptr, false);
  if (!record.is_object() || !record.contains("identity") || !record["identity"].is_object() ||
      !record.contains("steps") || !record["steps"].is_array()) {
    return std::nullopt;
  }
  return record;
}

std::string Text(const Json& object, const char* key) {
  return object.is_object() && object.contains(key) && object[key].is_string() ? object[key].get<std::string>()
                                                                                : std::string();
}

// "SERIAL MAC" as step 1 read it; "none" when the board held none; "-" when step 1 read nothing to
// its end.
std::string IdentityRead(const Json& record) {
  const Json& read = record["identity"].value("read", Json());
  if (read.is_object()) {
    const std::string serial = Text(read, "serialno"), mac = Text(read, "ethaddr");
    return (serial.empty() ? "-" : serial) + " " + (mac.empty() ? "-" : mac);
  }
  bool readToEnd = false;
  for (const Json& step : record["steps"]) {
    if (step.value("step", -1) == 1 && Text(step, "result") == "succeeded") readToEnd = true;
  }
  return readToEnd || Text(record, "error").rfind(kNoIdentity, 0) == 0 ? "none" : "-";
}

// Where the identity programmed came from: "given", "board" (the one it held), "pool", "placeholder".
std::string IdentitySource(const StationRun& run, const Json& record) {
  const Json& programmed = record["identity"].value("programmed", Json());
  if (!programmed.is_object()) return "-";
  const std::string mac = Text(programmed, "ethaddr"), serial = Text(programmed, "serialno");
  const Json& read = record["identity"].value("read", Json());
  if (run.given && mac == run.given->mac && serial == run.given->serial) return "given";
  if (read.is_object() && mac == Text(read, "ethaddr") && serial == Text(read, "serialno")) return "board";
  if (run.fallback && mac == run.fallback->mac && serial == run.fallback->serial) return "pool";
  return mac == kPlaceholder.mac && serial == kPlaceholder.serial ? "placeholder" : "-";
}

std::string StatusText(const StationRun& run) { return run.status ? std::to_string(*run.status) : "None"; }

std::vector<std::string> Row(const StationRun& run, const std::optional<Json>& record) {
  if (run.refused) return {run.port, "not started", "-", "-", "-", "-", "-", "-", "-", "-", *run.refused};
  if (!record) {
    return {run.port, run.stopped.empty() ? "no record" : run.stopped, StatusText(run), "-", "-", "-", "-", "-",
            "-", "-", "see " + run.console};
  }
  const Json& programmed = (*record)["identity"].value("programmed", Json());
  // A run killed before it could write its end leaves a record that still says "running".
  std::string result = Text(*record, "result");
  if (!run.stopped.empty()) {
    result = run.stopped;
  } else if (result == "running") {
    result = "no final record";
  }
  std::string again, failed = Text(*record, "failedStep");
  double seconds = 0;
  for (const Json& step : (*record)["steps"]) {
    const int attempts = step.value("attempts", 1);
    if (attempts > 1) {
      again += (again.empty() ? "" : ", ") + std::to_string(step.value("step", 0)) + " (" +
               std::to_string(attempts) + "x)";
    }
    if (step.contains("seconds") && step["seconds"].is_number()) seconds += step["seconds"].get<double>();
  }
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%.0f", seconds);
  const std::string serial = Text(programmed, "serialno"), mac = Text(programmed, "ethaddr"),
                    log = Text(*record, "log");
  return {run.port, result, StatusText(run), failed.empty() ? "-" : failed, serial.empty() ? "-" : serial,
          mac.empty() ? "-" : mac, IdentitySource(run, *record), IdentityRead(*record), again.empty() ? "-" : again,
          secondsText, log.empty() ? "-" : log};
}

}  // namespace

std::vector<std::string> RunTable(const std::vector<const StationRun*>& runs) {
  const std::vector<std::string> header = {"Board",         "Result",        "Exit", "Failed step",
                                           "Serial number", "MAC address",   "From", "Identity read",
                                           "Steps run again", "Seconds",     "Log"};
  std::vector<std::optional<Json>> records;
  std::vector<std::vector<std::string>> rows{header};
  for (const StationRun* run : runs) {
    records.push_back(run->refused ? std::nullopt : ReadRecord(run->record));
    rows.push_back(Row(*run, records.back()));
  }
  std::vector<size_t> widths(header.size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const StationRun& run = *runs[i];
    if (records[i]) {
      const std::string error = Text(*records[i], "error");
      if (!error.empty()) lines.push_back(run.port + ": " + error);
    }
    if (run.settled) lines.push_back(run.port + ": ledger: " + *run.settled);
    for (const std::string& words : run.troubles) lines.push_back(run.port + ": station: " + words);
  }
  return lines;
}

std::string RunState(const StationRun& run, bool withPercent) {
  std::string state;
  if (run.refused) {
    state = "not started";
  } else if (run.phase == StationRun::Phase::kOpening) {
    state = "opening its run";
  } else if (run.status) {
    state = *run.status == 0 ? "succeeded"
            : !run.stopped.empty() ? run.stopped
                                   : "failed (status " + std::to_string(*run.status) + ")";
  } else {
    state = "step " + (run.progress.step ? std::to_string(*run.progress.step) : std::string("-")) + " " +
            run.progress.stepName;
    const auto percent = run.progress.Percent();
    if (withPercent && percent) {
      char text[16];
      std::snprintf(text, sizeof text, " %3d%%", *percent);
      state += text;
    }
    if (run.stopSent) state += ", stopping";
  }
  if (run.progress.retries) {
    state += ", " + std::to_string(run.progress.retries) + (run.progress.retries == 1 ? " retry" : " retries");
  }
  return state;
}
