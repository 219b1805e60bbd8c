// brenlofix-ledger: the station's identity ledger on SQLite or PostgreSQL.
#include <cstdlib>
#include <iostream>

#include "ledger/database.h"
#include "ledger/ledger.h"
#include "ledger/ledger_command_line.h"
#include "ledger/ledger_session.h"

int main(int argc, char* argv[]) {
  // Which command, on which ledger.
  const auto line = ParseLedgerCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                           std::getenv("BRENLOFIX_LEDGER"));
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

  // Run the command, which prints its own result or reason; or serve a station's commands.
  if (line->command == "serve") return ServeLedger(ledger, std::cin, std::cout);
  return RunLedgerCommand(ledger, *line) ? 0 : 1;
}
