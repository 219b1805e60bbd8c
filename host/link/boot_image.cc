#include "host/link/boot_image.h"

#include <iostream>
#include <vector>

#include "host/link/boot_image_header.h"
#include "host/link/image_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"

namespace {

constexpr uint32_t kBlockSize = 128;

void ShowHeaderValues(const char* path, uint32_t byteCount, uint32_t magic, uint32_t startAddress,
                      uint32_t loadAddress) {
  std::cout << "\nFile open: " << path << ", size: " << byteCount << "\n"
            << "Magic: 0x" << HexDigits(magic, 8) << "\n"
            << "StartAddr: 0x" << HexDigits(startAddress, 8) << "\n"
            << "DataCount: 0x" << HexDigits(byteCount, 8) << "\n"
            << "LoadAddr: 0x" << HexDigits(loadAddress, 8) << "\n"
            << std::endl;
}

// The raw bytes in whole blocks, then the rest in one piece. The bar shows where the block just
// sent started (0 after the first).
bool SendBlocks(RS232* port, const std::vector<uint8_t>& bytes, const TransferProgress& progress) {
  const uint32_t count = static_cast<uint32_t>(bytes.size());
  uint32_t offset = 0;
  ProgressBar bar;
  for (; count - offset >= kBlockSize; offset += kBlockSize) {
    if (!WriteWhole(port, bytes.data() + offset, kBlockSize)) return false;
    bar.Show(static_cast<unsigned>(uint64_t{offset} * 100 / (count - 1)));
    if (progress) progress(offset + kBlockSize, count);
  }
  if (offset < count && !WriteWhole(port, bytes.data() + offset, count - offset)) return false;
  if (progress && offset < count) progress(count, count);
  return true;
}

}  // namespace

bool WriteWhole(RS232* port, const void* data, uint32_t length) {
  uint32_t written = 0;
  return port->Write(data, length, &written, 0) != 0 && written == length;
}

bool SendProtocolText(RS232* port, const std::string& text, bool withNul) {
  std::cout << "Target: " << text << std::endl;
  // c_str() carries the NUL right after the text.
  const uint32_t length = static_cast<uint32_t>(text.size()) + (withNul ? 1 : 0);
  return WriteWhole(port, text.c_str(), length);
}

int SendBootImage(const char* path, uint32_t magic, uint32_t startAddress, uint32_t loadAddress,
                  RS232* port, const TransferProgress& progress) {
  std::vector<uint8_t> bytes;
  if (!LoadImageBytes(path, &bytes)) return 0;
  const uint32_t byteCount = static_cast<uint32_t>(bytes.size());

  // "BOOTUBL" here means the flasher started afresh and forgot the command.
  if (!WaitForText("BOOTUBL", "SENDIMG", port, kImageWaitMs)) return 0;

  ShowHeaderValues(path, byteCount, magic, startAddress, loadAddress);
  if (!SendProtocolText(port, kAckText, true)) return 0;
  if (!SendProtocolText(port, BootImageHeader(magic, startAddress, byteCount, loadAddress), false)) return 0;
  if (!WaitForText("   FAIL", "  BEGIN", port, kImageWaitMs)) return 0;

  std::cout << "\n\t\t\tUploading Data.." << std::endl;
  if (!SendBlocks(port, bytes, progress)) return 0;
  ShowProgress(100);
  std::cout << std::endl;

  return WaitForText("BOOTUBL", "   DONE", port, kImageWaitMs) ? 1 : 0;
}
