// Finding the port the target hangs on.
#pragma once

#include <memory>
#include <string>

#include "host/platform/port_claim.h"

// Tries every serial port in ascending number with a break and a wait for " BOOTME", then another
// break and a wait for "UBL". The first port that answers; empty when none did. A port that another
// BrenloFix run has claimed is passed over; the port found stays claimed in *claim when given.
std::string DetectTarget(std::unique_ptr<PortClaim>* claim = nullptr);
