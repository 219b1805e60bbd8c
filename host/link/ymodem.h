// YModem-1K as U-Boot's loady takes it: every block, the header included, is STX, the block
// number, its complement, 1024 payload bytes and the CRC-16 high byte first. The receiver asks
// with C, answers each block and the EOT with ACK, or refuses a block with NAK.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "host/link/crc16.h"

class RS232;

constexpr uint8_t kYModemStx = 0x02;
constexpr uint8_t kYModemEot = 0x04;
constexpr uint8_t kYModemAck = 0x06;
constexpr uint8_t kYModemNak = 0x15;
constexpr uint8_t kYModemCrcRequest = 'C';
constexpr uint8_t kYModemPad = 0x1A;

constexpr size_t kYModemPayloadOffset = 3;
constexpr size_t kYModemPayloadSize = kCrc16PayloadSize;
constexpr size_t kYModemBlockSize = kYModemPayloadOffset + kYModemPayloadSize + 2;

using YModemBlock = std::array<uint8_t, kYModemBlockSize>;

// The header's modification time and file mode, in octal, after the file's length.
constexpr char kYModemHeaderTail[] = " 11750175350 100644";

// Block 0: the name and a NUL, the length in decimal with the tail and a NUL, zeros to the end.
void BuildHeaderBlock(YModemBlock& block, const Crc16& crc, const char* fileName, uint32_t fileSize);

// Completes a data block whose payload holds fileBytes bytes of the file: the block number and its
// complement, 0x1A after the last file byte, the CRC.
void FinishDataBlock(YModemBlock& block, const Crc16& crc, uint8_t number, size_t fileBytes);

// The percentage shown before a data block is counted. 64-bit, so that kernels above 42 MB
// show true values.
unsigned UploadPercent(uint64_t blocksAcknowledged, uint32_t fileSize);

// Reads single bytes until one of ACK, NAK or C arrives or timeoutMs passes. 1 when that byte is
// expected and came in time; otherwise 0 after a console line saying what arrived.
int WaitControlByte(RS232* port, uint32_t timeoutMs, uint8_t expected);

// Tells the receiver the transfer is over (also after a failure); the write's result is not used.
void SendEot(RS232* port);
