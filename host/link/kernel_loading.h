// Step 5, whichever way the kernel goes: uImage into the board's memory by YModem on the serial
// line (no server given) or by U-Boot's TFTP client from the given server, then checked there by
// U-Boot's iminfo against the file's own header. The check belongs to this step, so that the
// step's retry loads the kernel again: a stale file on the server, put right by the operator,
// or a transfer that went wrong, never reaches the ten NAND slots of step 6.
#pragma once

#include "host/link/target_console.h"

// 1 when the kernel is in memory and checked; 0 on failure (reason printed). tftpServer null or
// empty: YModem. The log gets which way the kernel went and how long it took.
int LoadKernel(const char* portName, const char* tftpServer,
               const TransferProgress& progress = TransferProgress());
