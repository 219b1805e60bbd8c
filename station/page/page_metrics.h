// /metrics in Prometheus' text format (version 0.0.4).
#pragma once

#include <cstdint>
#include <string>

#include "station/page/page_ledger.h"

// counts: null when the ledger could not be read (or there is none); the runs and step times are
// then left out and the ledger errors tell.
std::string MetricsText(const PageLedger::Counts* counts, int64_t boardsRunning, uint64_t ledgerErrors);
