// What brenlofix-ledger does with its command line: one command, or (serve) the commands a station
// sends over a pipe on one open connection, without a process and a connection for each.
#pragma once

#include <iosfwd>

#include "ledger/ledger.h"
#include "ledger/ledger_command_line.h"

// Runs one command on the open ledger; it prints its own result or reason.
bool RunLedgerCommand(Ledger& ledger, const LedgerCommandLine& line);

// serve: each line of in is one command, a JSON array of its words (["reserve", "--port", "COM3"]).
// What the command prints, its errors included, goes to out, then a line "=0" (done), "=1"
// (failed) or "=2" (not a command). Ends with the input; status 0.
int ServeLedger(Ledger& ledger, std::istream& in, std::ostream& out);
