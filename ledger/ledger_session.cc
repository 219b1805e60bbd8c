#include "ledger/ledger_session.h"

#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

bool RunLedgerCommand(Ledger& ledger, const LedgerCommandLine& line) {
  const std::string& command = line.command;
  const auto& arguments = line.arguments;
  const RunOpening opening{line.station, line.port, line.record, line.request, std::nullopt};
  if (command == "init" || command == "serve") return true;  // done by opening the ledger
  if (command == "add-macs") {
    const auto range = ParseMacRange(arguments[0], arguments[1]);
    return range && ledger.AddMacs(*range);
  }
  if (command == "add-serials") {
    const auto range = ParseSerialRange(arguments[0], arguments[1], arguments[2]);
    return range && ledger.AddSerials(*range);
  }
  if (command == "reserve") return ledger.Reserve(opening).has_value();
  if (command == "open-run") return ledger.OpenRun(opening).has_value();
  if (command == "record") return ledger.StoreRecord(line.run, arguments[1]);
  if (command == "settle") return ledger.Settle(line.run, arguments[1], line.request);
  if (command == "recover") return ledger.Recover(line.station);
  if (command == "resolve") return ledger.Resolve(arguments[0], arguments[1] == "written");
  if (command == "status") return ledger.Status();
  if (command == "find") return ledger.Find(arguments[0]);
  if (command == "runs") {
    RunFilter filter;
    filter.since = *line.since;
    if (line.stationGiven) filter.station = line.station;
    filter.port = line.port;
    filter.result = line.result;
    filter.board = line.board;
    return ledger.Runs(filter, line.csv);
  }
  return ledger.Audit();
}

int ServeLedger(Ledger& ledger, std::istream& in, std::ostream& out) {
  // The station reads a command's errors in their place among its output.
  std::streambuf* const errors = std::cerr.rdbuf(out.rdbuf());
  for (std::string text; std::getline(in, text);) {
    const nlohmann::json words = nlohmann::json::parse(text, nullptr, false);
    std::vector<std::string> argv;
    bool wellFormed = words.is_array() && !words.empty();
    for (const auto& word : words.is_array() ? words : nlohmann::json::array()) {
      wellFormed = wellFormed && word.is_string();
      if (word.is_string()) argv.push_back(word.get<std::string>());
    }
    int status = 2;
    if (!wellFormed) {
      out << "Error: a command is a JSON array of its words: [\"reserve\", \"--port\", \"COM3\"]"
          << std::endl;
    } else if (std::find(argv.begin(), argv.end(), "--ledger") != argv.end()) {
      out << "Error: the served ledger is the one brenlofix-ledger serve was started with" << std::endl;
    } else if (const auto line = ParseLedgerCommandLine(argv, nullptr)) {
      if (line->help) PrintLedgerUsage(out);
      status = line->help || RunLedgerCommand(ledger, *line) ? 0 : 1;
    }
    out << "=" << status << std::endl;
  }
  std::cerr.rdbuf(errors);
  return 0;
}
