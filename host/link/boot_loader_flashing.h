// Step 3: the serial flasher writes the UBL and U-Boot into NAND.
#pragma once

#include <cstdint>

#include "host/link/target_console.h"

constexpr char kUblImageFile[] = "ubl_DM6446_NAND.bin";
constexpr uint32_t kUblMagic = 0xA1ACED00;
constexpr uint32_t kUblStartAddress = 0x00000100;
constexpr uint32_t kUblLoadAddress = 0x00000020;

constexpr char kUbootImageFile[] = "uboot.large.bin";
constexpr uint32_t kUbootMagic = 0x55424CBB;
constexpr uint32_t kUbootStartAddress = 0x81080000;
constexpr uint32_t kUbootLoadAddress = 0x81080000;

// The flash command: "    CMD" with its NUL, then this word in lower-case hexadecimal.
constexpr uint32_t kFlashCommandWord = 0x55424C10;  // "UBL" and 0x10
// How long the flasher may take to announce itself and to take the command.
constexpr uint32_t kFlasherWaitMs = 5000;

// Catches the flasher's "BOOTUBL", commands it to write NAND and sends the UBL, then U-Boot.
// 1 on success, 0 on failure; no port stays open. A failure after the UBL was written leaves
// the new UBL in place.
int FlashBootLoaders(const char* portPath, const TransferProgress& progress = TransferProgress());
