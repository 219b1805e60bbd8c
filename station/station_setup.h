// Everything the station checks before any pair is reserved or any run starts: the programs, the
// folders and the file names the runs will get. A station that cannot run a board says so here and
// touches neither the ledger nor a port.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "station/station_options.h"
#include "station/supervisor.h"

// Checks options and makes the setup; the records folder is made when missing. Empty after a line
// in words on *error.
std::optional<StationSetup> MakeStationSetup(const StationOptions& options, const std::string& self,
                                             std::string* error);

// The ledger URL the station uses: --ledger, else BRENLOFIX_LEDGER, else RECORDS/ledger.sqlite when
// that file exists; empty without one.
std::optional<std::string> StationLedgerUrl(const StationOptions& options, const std::string& records);

// True when the program's --help tells of --events (a BrenloFix that writes events).
bool WritesEvents(const std::string& brenlofix);

