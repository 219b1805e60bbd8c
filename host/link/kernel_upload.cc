#include "host/link/kernel_upload.h"

#include <iostream>
#include <memory>

#include "host/link/crc16.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/link/ymodem.h"

namespace {

constexpr char kLoadyCommand[] = "loady";
constexpr char kLoadyReady[] = "## Ready for binary (ymodem) download";
constexpr char kLoadyDone[] = "## Total Size";
constexpr uint32_t kReadyTimeoutMs = 5000;
constexpr uint32_t kStartTimeoutMs = 10000;
constexpr uint32_t kAckTimeoutMs = 5000;
constexpr uint32_t kDoneTimeoutMs = 10000;

int WriteBlock(RS232* port, const YModemBlock& block) {
  return port->Write(block.data(), static_cast<uint32_t>(block.size()), nullptr, 0);
}

// The receiver's ACK: it has everything written so far, so no line time is owed any more. A line
// that carried the blocks faster than the rate the port was opened at (a simulated board without
// its line emulation) must not stretch the waits that follow by what the bytes would have taken.
bool WaitAck(RS232* port) {
  if (!WaitControlByte(port, kAckTimeoutMs, kYModemAck)) return false;
  port->NoteOutputDelivered();
  return true;
}

// Reads the next piece of the file into the block's payload. False, with the reason printed,
// when the file cannot give the bytes its size promised.
bool ReadPayload(std::FILE* file, const char* fileName, YModemBlock& block, size_t wanted, size_t* got) {
  *got = std::fread(block.data() + kYModemPayloadOffset, 1, kYModemPayloadSize, file);
  if (std::ferror(file)) {
    std::cout << "\nError: cannot read " << fileName << "." << std::endl;
    return false;
  }
  std::clearerr(file);
  if (*got < wanted) {
    std::cout << "\nError: " << fileName << " ended before its announced size." << std::endl;
    return false;
  }
  return true;
}

// The data blocks, numbered from 1 and wrapping after 255. Ends with the EOT sent on failure.
int SendDataBlocks(RS232* port, std::FILE* file, const char* fileName, uint32_t fileSize, const Crc16& crc,
                   YModemBlock& block, const TransferProgress& progress) {
  uint8_t number = 1;
  uint64_t blocksAcknowledged = 0;
  uint64_t bytesSent = 0;
  ProgressBar bar;
  while (bytesSent < fileSize) {
    uint64_t left = fileSize - bytesSent;
    size_t wanted = left < kYModemPayloadSize ? static_cast<size_t>(left) : kYModemPayloadSize;
    size_t got = 0;
    if (!ReadPayload(file, fileName, block, wanted, &got)) {
      SendEot(port);
      return 0;
    }
    FinishDataBlock(block, crc, number, got);
    WriteBlock(port, block);
    if (!WaitAck(port)) {
      SendEot(port);
      return 0;
    }
    bar.Show(UploadPercent(blocksAcknowledged, fileSize));
    ++number;
    ++blocksAcknowledged;
    bytesSent += kYModemPayloadSize;
    // The board has acknowledged the block: its bytes have arrived.
    if (progress) progress(bytesSent < fileSize ? bytesSent : fileSize, fileSize);
  }
  return 1;
}

}  // namespace

int SendFileToLoady(RS232* port, std::FILE* file, const char* fileName, uint32_t fileSize,
                    const TransferProgress& progress) {
  Crc16 crc;
  Crc16Init(crc);
  std::unique_ptr<YModemBlock> block(new YModemBlock());
  block->fill(0);

  if (!TypeCommand(port, kLoadyCommand)) return 0;
  if (!WaitForText(nullptr, kLoadyReady, port, kReadyTimeoutMs)) return 0;
  port->PurgeInput();  // the rest of U-Boot's console output
  if (!WaitControlByte(port, kStartTimeoutMs, kYModemCrcRequest)) return 0;

  BuildHeaderBlock(*block, crc, fileName, fileSize);
  WriteBlock(port, *block);
  if (!WaitAck(port)) {
    SendEot(port);
    return 0;
  }
  std::cout << "\n\n\t\t\tYModem1K Uploading Data.." << std::endl;

  if (!SendDataBlocks(port, file, fileName, fileSize, crc, *block, progress)) return 0;

  SendEot(port);
  if (!WaitAck(port)) {
    SendEot(port);
    return 0;
  }
  ShowProgress(100);
  std::cout << std::endl;
  if (!WaitForText(nullptr, kLoadyDone, port, kDoneTimeoutMs)) {
    SendEot(port);
    return 0;
  }
  return 1;
}

KernelFile OpenKernelImage(uint32_t* fileSize) {
  KernelFile file(std::fopen(kKernelImageName, "rb"));
  if (!file) {
    std::cout << "Can't open file " << kKernelImageName << std::endl;
    return nullptr;
  }
  std::fseek(file.get(), 0, SEEK_END);
  const long length = std::ftell(file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  if (length < 0 || static_cast<unsigned long>(length) > 0xFFFFFFFFul) {
    std::cout << "Error: cannot read the size of " << kKernelImageName << "." << std::endl;
    return nullptr;
  }
  *fileSize = static_cast<uint32_t>(length);
  return file;
}

int UploadKernel(const char* portName) {
  uint32_t fileSize = 0;
  const KernelFile file = OpenKernelImage(&fileSize);
  if (!file) return 0;

  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;

  std::cout << "\nFile open: " << kKernelImageName << ", size: " << fileSize << std::endl;
  int result = SendFileToLoady(port.get(), file.get(), kKernelImageName, fileSize);
  std::cout << std::endl;
  port->Close();
  return result;
}
