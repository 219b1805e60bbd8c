// Step 5 over Ethernet: U-Boot's TFTP client fetches uImage from a TFTP server on the station,
// instead of YModem on the serial line. serverip is set for this boot only, never saved.
#pragma once

#include <cstdint>

class RS232;

// Types "setenv serverip SERVER" and "tftpboot 0x80700000 FILE" at the U-Boot prompt and waits
// for "Bytes transferred = N" with N equal to fileSize. A "TFTP error", "Retry count exceeded",
// another size or the time-out fails (reason printed), and Ctrl-C then stops U-Boot's retries so
// that the board is back at its prompt. 1 on success, 0 on failure.
int LoadKernelOverTftp(RS232* port, const char* server, const char* fileName, uint32_t fileSize);

// How long the transfer may take: a minute for U-Boot's start and its retries of a lost packet,
// and the file at 100 KB/s, a tenth of what the slowest station link carries.
uint32_t TftpTimeoutMs(uint32_t fileSize);
