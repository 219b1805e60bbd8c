// Step 2: the boot ROM's UART boot of the serial flasher sft_DM6446_NAND.bin.
#pragma once

#include <cstdint>

#include "host/link/target_console.h"

constexpr char kFlasherImageFile[] = "sft_DM6446_NAND.bin";
// How long the boot ROM may take to announce itself and to answer each part of the upload.
constexpr uint32_t kBootRomWaitMs = 5000;

// Restarts the target with a break, catches the boot ROM's " BOOTME", sends the header, the CRC
// table and the flasher image as hexadecimal text and waits for the boot ROM's "   DONE".
// 1 on success, 0 on failure; no port stays open.
int UploadFlasher(const char* portPath, const TransferProgress& progress = TransferProgress());
