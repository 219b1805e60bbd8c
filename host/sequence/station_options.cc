#include "host/sequence/station_options.h"

#include <cstdlib>

#include "host/sequence/command_line.h"

namespace {

constexpr int kMaxRetries = 99;

bool ParseRetries(const std::string& text, int* retries) {
  if (text.empty() || text.size() > 2) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *retries = std::stoi(text);
  return *retries <= kMaxRetries;
}

bool TakesValue(const std::string& argument) {
  return argument == "--retries" || argument == "--login" || argument == "--proxy" ||
         argument == "--report" || argument == "--fallback-identity" || argument == "--events";
}

// MAC,SERIAL, each value as -m and -s take it.
bool ParseFallbackIdentity(const std::string& text, OptionMap* identity, std::string* error) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) {
    return Refuse(
        "Error: argument --fallback-identity takes MAC,SERIAL, for example 02:1B:4D:12:34:56,QV4N150101ABC",
        error);
  }
  *identity = {{"ethaddr", text.substr(0, comma)}, {"serialno", text.substr(comma + 1)}};
  return ValidateOptions(*identity, error);
}

}  // namespace

int ParseStationOption(int argc, const char* const argv[], int i, StationOptions& station,
                       std::string* error) {
  const std::string argument = argv[i];
  if (argument == "--unattended") {
    station.unattended = true;
    return 1;
  }
  if (argument == "--factory-identity") {
    station.factoryIdentity = true;
    return 1;
  }
  if (!TakesValue(argument)) return 0;
  if (i + 1 >= argc) {
    Refuse("Error: missing parameter of argument " + argument, error);
    return -1;
  }
  const std::string value = argv[i + 1];
  if (argument == "--retries") {
    int retries = 0;
    if (!ParseRetries(value, &retries)) {
      Refuse("Error: argument --retries needs a number from 0 to " + std::to_string(kMaxRetries), error);
      return -1;
    }
    if (!station.retriesGiven) station.retries = retries;
    station.retriesGiven = true;
  } else if (argument == "--login") {
    if (!station.login) station.login = value;
  } else if (argument == "--proxy") {
    if (!station.proxy) station.proxy = value;
  } else if (argument == "--fallback-identity") {
    OptionMap identity;
    if (!ParseFallbackIdentity(value, &identity, error)) return -1;
    if (station.fallbackIdentity.empty()) station.fallbackIdentity = identity;
  } else if (argument == "--events") {
    if (value.empty()) {
      Refuse("Error: argument --events needs a file name or fd:N", error);
      return -1;
    }
    if (station.events.empty()) station.events = value;
  } else if (station.reportPath.empty()) {
    if (value.empty()) {
      Refuse("Error: argument --report needs a file name", error);
      return -1;
    }
    station.reportPath = value;
  }
  return 2;
}

bool CheckStationOptions(const SwitchSet& switches, const StationOptions& station, std::string* error) {
  if (switches.count("interactive") && station.unattended) {
    return Refuse("Error: arguments -i and --unattended cannot be used together", error);
  }
  if (!station.unattended && (station.retriesGiven || station.login || station.proxy)) {
    return Refuse("Error: arguments --retries, --login and --proxy need --unattended", error);
  }
  // Each names the identity of a board that holds none.
  if (station.factoryIdentity && !station.fallbackIdentity.empty()) {
    return Refuse("Error: arguments --factory-identity and --fallback-identity cannot be used together",
                  error);
  }
  return true;
}

std::string MissingUnattendedAnswer(const SwitchSet& switches, const StationOptions& station,
                                    const std::optional<std::string>& password) {
  if (!station.unattended) return "";
  // -nf goes to the boot watch and its login without -al too.
  const bool logsIn = switches.count("autologin") || switches.count("noflash");
  if (logsIn && (!station.login || station.login->empty())) {
    return "Error: an unattended run that logs in needs --login USER";
  }
  if (logsIn && !password) {
    return std::string(
               "Error: an unattended run that logs in needs the password in the environment "
               "variable ") +
           kPasswordVariable + " (set and empty when the board asks none)";
  }
  if (switches.count("rpm") && !station.proxy) return "Error: an unattended run with -ri needs --proxy URL";
  if (station.proxy && station.proxy->size() > kMaxProxyLength) {
    return "Error: argument --proxy takes at most " + std::to_string(kMaxProxyLength) + " characters";
  }
  return "";
}

bool UnattendedAsked(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--unattended") return true;
  }
  return false;
}

namespace {

// The value of the first `option` among the arguments; empty without one.
std::string ValueAsked(int argc, const char* const argv[], const std::string& option) {
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == option) return argv[i + 1];
    // The value of another option is no option, even when it reads "--report".
    if (TakesValue(argument) || argument == "-m" || argument == "-s" || argument == "-p" ||
        argument == "--tftp")
      ++i;
  }
  return "";
}

}  // namespace

std::string ReportPathAsked(int argc, const char* const argv[]) { return ValueAsked(argc, argv, "--report"); }

std::string EventsAsked(int argc, const char* const argv[]) { return ValueAsked(argc, argv, "--events"); }

void TakeProxyFromEnvironment(StationOptions& station) {
  if (!station.unattended || station.proxy) return;
  if (const char* proxy = std::getenv(kProxyVariable)) station.proxy = std::string(proxy);
}
