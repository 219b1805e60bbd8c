// Small pieces the boot ROM, the serial flasher and the UBL share: the 8-byte messages, waiting for
// a message in the byte stream, hexadecimal fields, the board's event log.
#pragma once

#include <cstdint>
#include <string>

#include "sim/firmware.h"

namespace sim {

constexpr Micros kMillisecond = 1000;
constexpr Micros kSecond = 1000000;

// Sends a seven-character message and its NUL (" BOOTME", "  BEGIN", "   DONE"...).
void SendMessage(Uart& uart, const char* text);

// Prints a console line ending in "\r\n".
void SendLine(Uart& uart, const std::string& text);

// Waits until the last bytes received equal message (for example "    ACK" and its NUL); bytes
// before it are ignored. With announce given, sends it first and, when repeat is set, again after
// every second without the message.
void WaitForMessage(Uart& uart, const std::string& message, const char* announce, bool repeat);

// Receives exactly count bytes, waiting as long as it takes (a reset ends the wait).
std::string ReceiveExactly(Uart& uart, size_t count);

// Parses text[pos, pos + length) as hexadecimal digits (either case). False on any other character.
bool ParseHex(const std::string& text, size_t pos, size_t length, uint32_t* value);

// "0x" and eight upper-case digits.
std::string Hex8(uint32_t value);

// Adds a line to the board's event log (kept for the tests and the dump; the oldest lines go first
// when it grows long).
void Note(BoardState& board, const std::string& event);

// Little-endian words as the firmware keeps them in NAND.
uint32_t GetLe32(const uint8_t* p);
void PutLe32(uint8_t* p, uint32_t value);

}  // namespace sim
