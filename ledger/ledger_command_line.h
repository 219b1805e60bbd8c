// brenlofix-ledger's command line: one command with its arguments, and the options that go with it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct LedgerCommandLine {
  bool help = false;
  std::string ledger;   // --ledger, else BRENLOFIX_LEDGER, else sqlite:ledger.sqlite
  std::string command;  // init, add-macs, reserve, ...
  std::vector<std::string> arguments;
  std::string station;  // --station, else the host's name
  bool stationGiven = false;
  std::optional<std::string> port;
  std::optional<std::string> record;
  std::optional<std::string> since;
  std::optional<std::string> result, board;  // runs: only the runs with that result, of that board
  std::optional<std::string> request;  // --request: the caller's unique key of a reserve, open-run, settle
  bool csv = false;
  int64_t run = 0;  // record, settle: the run's number
};

// Empty after a printed error line (standard error); environment: BRENLOFIX_LEDGER or null.
std::optional<LedgerCommandLine> ParseLedgerCommandLine(const std::vector<std::string>& argv,
                                                        const char* environmentLedger);
void PrintLedgerUsage(std::ostream& out);
