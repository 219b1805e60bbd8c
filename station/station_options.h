// The station's command line: the boards, the folders, the ledger, and what every run is given.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct BoardSpec {
  std::string port;
  // --board PORT=MAC,SERIAL: the identity to program; without it the board keeps its own, or takes
  // the ledger's next free pair when it holds none.
  std::optional<std::string> mac;
  std::optional<std::string> serial;
};

struct StationOptions {
  std::vector<BoardSpec> boards;
  std::string images = ".";
  std::optional<std::string> records;  // default: the images folder
  std::optional<std::string> ledger;   // default: BRENLOFIX_LEDGER, else RECORDS/ledger.sqlite if there
  std::optional<std::string> station;  // default: the host name
  std::optional<std::string> brenlofix;
  std::optional<std::string> retries;
  std::optional<std::string> login;
  std::optional<std::string> proxy;
  std::optional<double> timeoutMinutes;
  std::string typing = "echo";
  // The page: ADDRESS:PORT, or "none" for no page.
  std::string listen = "127.0.0.1:8080";
  bool continuous = false;
  // After a batch, the page stays up until a line or the end of standard input, or a stop signal.
  bool keepPage = false;
  bool help = false;
  std::vector<std::string> passedOn;  // after --
};

// Parses argv (without the program's name). Empty after a line in words on *error.
std::optional<StationOptions> ParseStationOptions(const std::vector<std::string>& argv, std::string* error);

// The usage lines, under a command-line error; the whole help text for --help.
std::string StationUsage();
std::string StationHelp();

// A port's name as it stands in file names: runs of anything but letters and digits become one "_",
// none at either end ("rfc2217://127.0.0.1:7001" -> "rfc2217_127_0_0_1_7001").
std::string SafePortName(const std::string& port);
