// Finding the port the target hangs on.
#pragma once

#include <string>

// Tries every serial port in ascending number with a break and a wait for " BOOTME", then another
// break and a wait for "UBL". The first port that answers; empty when none did.
std::string DetectTarget();
