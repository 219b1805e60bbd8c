// The running MontaVista system on the console: login (with "Password:" when the user has one),
// the root shell with export, echo and apt-get (update; install with its confirmation question).
#pragma once

#include "sim/firmware.h"

namespace sim {

constexpr const char* kHostName = "brenlo";

// Runs the console from the login prompt on; the prompt itself was already shown when
// loginShown. Returns only by BoardReset.
[[noreturn]] void RunLinuxConsole(Uart& uart, BoardState& board, bool loginShown);

}  // namespace sim
