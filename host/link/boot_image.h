// The serial flasher's image exchange: it asks for an image with "SENDIMG", takes "    ACK" and a
// 36-character header, answers "  BEGIN", takes the raw bytes and confirms with "   DONE".
#pragma once

#include <cstdint>
#include <string>

#include "host/link/target_console.h"

class RS232;

// How long the flasher may take to answer during an image exchange.
constexpr uint32_t kImageWaitMs = 10000;
// The acknowledge text that both the boot ROM and the flasher take, followed by its NUL.
constexpr char kAckText[] = "    ACK";

// Writes the whole buffer in one Write; false when the write fails or stops short (the target
// would be left waiting for bytes that never come).
bool WriteWhole(RS232* port, const void* data, uint32_t length);

// Shows "Target: " and the text, then writes it, with its terminating NUL when withNul is set.
bool SendProtocolText(RS232* port, const std::string& text, bool withNul);

// Loads path (refused before anything is sent when missing, empty or unreadable), waits for
// "SENDIMG", sends the acknowledge and the header, the bytes in 128-byte blocks, and waits for
// "   DONE". 1 on success, 0 on failure. The port stays open for the caller.
int SendBootImage(const char* path, uint32_t magic, uint32_t startAddress, uint32_t loadAddress,
                  RS232* port, const TransferProgress& progress = TransferProgress());
