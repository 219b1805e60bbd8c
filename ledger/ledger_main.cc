// brenlofix-ledger: the station's identity ledger on SQLite or PostgreSQL.
#include <cstdlib>
#include <iostream>

#include "ledger/database.h"
#include "ledger/ledger.h"
#include "ledger/ledger_command_line.h"

namespace {

bool Dispatch(Ledger& ledger, const LedgerCommandLine& line) {
  const std::string& command = line.command;
  const auto& arguments = line.arguments;
  const RunOpening opening{line.station, line.port, line.record};
  if (command == "init") return true;  // done by opening
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
  if (command == "settle") return ledger.Settle(line.run, arguments[1]);
  if (command == "recover") return ledger.Recover(line.station);
  if (command == "resolve") return ledger.Resolve(arguments[0], arguments[1] == "written");
  if (command == "status") return ledger.Status();
  if (command == "find") return ledger.Find(arguments[0]);
  if (command == "runs") return ledger.Runs(*line.since, line.csv);
  return ledger.Audit();
}

}  // namespace

int main(int argc, char* argv[]) {
  // Which command, on which ledger.
  const auto line = ParseLedgerCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::getenv("BRENLOFIX_LEDGER"));
  if (!line) return 2;
  if (line->help) {
    PrintLedgerUsage(std::cout);
    return 0;
  }
  const auto url = ParseLedgerUrl(line->ledger);
  if (!url) return 2;

  // Open it; only init makes a new SQLite file and the tables.
  const bool init = line->command == "init";
  const auto database = OpenDatabase(*url, init);
  if (!database) return 1;
  Ledger ledger(*database, url->shown, std::cout);
  if (init ? !ledger.Init() : !ledger.IsSetUp()) return 1;

  // Run the command; it prints its own result or reason.
  return Dispatch(ledger, *line) ? 0 : 1;
}
