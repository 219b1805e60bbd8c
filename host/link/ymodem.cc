#include "host/link/ymodem.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "host/link/rs232.h"

namespace {

void StoreCrc(YModemBlock& block, const Crc16& crc) {
  uint16_t value = Crc16Compute(crc, block.data() + kYModemPayloadOffset);
  block[kYModemPayloadOffset + kYModemPayloadSize] = static_cast<uint8_t>(value >> 8);
  block[kYModemPayloadOffset + kYModemPayloadSize + 1] = static_cast<uint8_t>(value & 0xFF);
}

void ReportControlByteFailure(uint8_t received, uint8_t expected) {
  if (received == kYModemNak) {
    std::cout << "\nNAK received, CRC16 error." << std::endl;
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Received: 0x%02x, expected: 0x%x", received, expected);
  std::cout << "\n" << text << std::endl;
}

}  // namespace

void BuildHeaderBlock(YModemBlock& block, const Crc16& crc, const char* fileName, uint32_t fileSize) {
  block.fill(0);
  block[0] = kYModemStx;
  block[1] = 0x00;
  block[2] = 0xFF;
  char info[64];
  int infoLength =
      std::snprintf(info, sizeof info, "%lu%s", static_cast<unsigned long>(fileSize), kYModemHeaderTail);
  size_t nameLength = std::strlen(fileName);
  // A name that leaves no room for the length is cut; the kernel's is six characters.
  size_t room = kYModemPayloadSize - static_cast<size_t>(infoLength) - 2;
  if (nameLength > room) nameLength = room;
  uint8_t* payload = block.data() + kYModemPayloadOffset;
  std::memcpy(payload, fileName, nameLength);
  std::memcpy(payload + nameLength + 1, info, static_cast<size_t>(infoLength));
  StoreCrc(block, crc);
}

void FinishDataBlock(YModemBlock& block, const Crc16& crc, uint8_t number, size_t fileBytes) {
  block[0] = kYModemStx;
  block[1] = number;
  block[2] = static_cast<uint8_t>(255 - number);
  if (fileBytes < kYModemPayloadSize) {
    std::memset(block.data() + kYModemPayloadOffset + fileBytes, kYModemPad, kYModemPayloadSize - fileBytes);
  }
  StoreCrc(block, crc);
}

unsigned UploadPercent(uint64_t blocksAcknowledged, uint32_t fileSize) {
  if (fileSize == 0) return 100;
  return static_cast<unsigned>(blocksAcknowledged * 102400u / fileSize);
}

int WaitControlByte(RS232* port, uint32_t timeoutMs, uint8_t expected) {
  uint8_t received = 0;
  const WireTimer timer(port);  // the block just written is still on its way
  for (;;) {
    uint8_t byte = 0;
    uint32_t count = 0;
    bool readOk = port->Read(&byte, 1, &count, 0) != 0;
    if (count == 1) received = byte;
    uint32_t elapsed = timer.ElapsedMs();
    bool control = count == 1 && (byte == kYModemAck || byte == kYModemNak || byte == kYModemCrcRequest);
    if (control) {
      if (elapsed < timeoutMs && byte == expected) return 1;
      break;
    }
    // A line that fails to read will not recover within the wait; stop rather than spin.
    if (!readOk || elapsed >= timeoutMs) break;
  }
  ReportControlByteFailure(received, expected);
  return 0;
}

void SendEot(RS232* port) {
  uint8_t eot = kYModemEot;
  port->Write(&eot, 1, nullptr, 0);
}
