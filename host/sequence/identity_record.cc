#include "host/sequence/identity_record.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <tuple>
#include <utility>
#include <vector>

#include "host/link/log_file.h"
#include "host/platform/console.h"
#include "host/sequence/run_log.h"

namespace {

constexpr char kIdentityHeading[] = "Identity read from the board:";
// The identity stands near a log's start (step 1); a folder of many runs is not read whole.
constexpr size_t kLogsSearched = 20;
constexpr std::streamsize kLogBytesSearched = 64 * 1024;

bool HoldsIdentity(const OptionMap& map) { return map.count("serialno") != 0 && map.count("ethaddr") != 0; }

// Run logs in the current folder, newest first by the start time in their names.
std::vector<std::string> RunLogsNewestFirst() {
  using Started = std::tuple<int, int, int, int, int, int, int>;
  std::vector<std::pair<Started, std::string>> logs;
  std::error_code error;
  for (std::filesystem::directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    UtcTime t{};
    if (!ParseLogFileName(name, &t)) continue;
    logs.push_back({Started(t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds), name});
  }
  std::sort(logs.begin(), logs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> names;
  for (const auto& log : logs) names.push_back(log.second);
  return names;
}

// The values after the identity heading of one log, as LogIdentityValue wrote them.
OptionMap IdentityInLog(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::string text(static_cast<size_t>(kLogBytesSearched), '\0');
  in.read(&text[0], kLogBytesSearched);
  text.resize(static_cast<size_t>(in.gcount()));
  OptionMap identity;
  const std::string heading = std::string(kIdentityHeading) + "\r\n";  // the log's line end
  size_t at = text.find(heading);
  if (at == std::string::npos) return identity;
  at += heading.size();
  for (const char* key : {"serialno", "ethaddr"}) {
    const std::string prefix = std::string(key) + " = ";
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos || text.compare(at, prefix.size(), prefix) != 0) return OptionMap();
    identity[key] = text.substr(at + prefix.size(), end - at - prefix.size());
    at = end + 2;
  }
  return identity;
}

}  // namespace

void LogIdentityHeading() { WriteLog(std::string(kIdentityHeading) + "\n"); }

bool FindEarlierIdentity(std::string* logName, OptionMap* identity) {
  const std::vector<std::string> logs = RunLogsNewestFirst();
  for (size_t i = 0; i < logs.size() && i < kLogsSearched; ++i) {
    OptionMap found = IdentityInLog(logs[i]);
    if (!HoldsIdentity(found)) continue;
    *logName = logs[i];
    *identity = found;
    return true;
  }
  return false;
}

void LogIdentityValue(const std::string& name, const std::string& value) {
  WriteLog(name + " = " + value + "\n");
}

void LogIdentityLacking(const std::string& name) { WriteLog(name + ": not defined on the board\n"); }

void SayIdentityLacking(const std::vector<std::string>& names) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  const std::string line = "The board's U-Boot holds no " + list +
                           " (its environment lost or never saved); the board counts as one without an identity.";
  std::cout << std::endl << line << std::endl;
  WriteLog(line + "\n");
}

void LogNoIdentityOnBoard() { WriteLog("The board showed no boot loader: no identity was read.\n"); }

bool WarnBeforeFactoryIdentity(const OptionMap& options, const OptionMap& backup) {
  if (HoldsIdentity(options) || HoldsIdentity(backup)) return false;
  std::vector<std::string> lines = {
      "Warning: the board reports no identity; the factory identity will be programmed.\n",
      "To keep the board's own values, run again with -m MAC and -s serial number, or with -i to confirm or "
      "retype them.\n",
  };
  std::string earlierLog;
  OptionMap earlier;
  if (FindEarlierIdentity(&earlierLog, &earlier)) {
    lines.insert(lines.begin() + 1, "The identity read from a board in an earlier run stands in " +
                                        earlierLog + ": serialno = " + earlier["serialno"] +
                                        ", ethaddr = " + earlier["ethaddr"] + "\n");
  }
  SetConsoleColour(kColourHighlight);
  std::cout << std::endl;
  for (const std::string& line : lines) std::cout << line;
  std::cout.flush();
  SetConsoleColour(kColourNormal);
  for (const std::string& line : lines) WriteLog(line);
  return true;
}

void LogProgrammedIdentity(const OptionMap& identity) {
  WriteLog("Identity programmed:\n");
  for (const char* key : {"serialno", "ethaddr"}) {
    auto found = identity.find(key);
    if (found != identity.end()) LogIdentityValue(found->first, found->second);
  }
}
