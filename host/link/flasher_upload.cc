#include "host/link/flasher_upload.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "host/link/boot_image.h"
#include "host/link/boot_image_header.h"
#include "host/link/crc32.h"
#include "host/link/flasher_upload_header.h"
#include "host/link/image_file.h"
#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"

namespace {

constexpr uint32_t kAfterBreakMs = 500;

// Each table entry and each word goes out as 8 upper-case digits in a Write of its own. With
// progress, the words are those of an image of imageBytes bytes, four of them a word.
bool SendHexWords(RS232* port, const std::vector<uint32_t>& words, const TransferProgress* progress = nullptr,
                  uint64_t imageBytes = 0) {
  if (words.empty()) return true;
  const size_t last = words.size() - 1;
  ProgressBar bar;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string text = HexDigits(words[i], 8);
    if (!WriteWhole(port, text.data(), 8)) return false;
    // A one-word image has no position between start and end to show.
    bar.Show(last == 0 ? 100 : static_cast<unsigned>(uint64_t{i} * 100 / last));
    if (progress && *progress) {
      const uint64_t sent = (uint64_t{i} + 1) * 4;
      (*progress)(sent < imageBytes ? sent : imageBytes, imageBytes);
    }
  }
  return true;
}

}  // namespace

int UploadFlasher(const char* portPath, const TransferProgress& progress) {
  Crc32 crc;
  Crc32Init(crc, kCrc32Polynomial, kCrc32InitialValue, kCrc32FinalXor);

  // The port is closed and released on every return.
  auto port = std::make_unique<RS232>();
  if (!port->Open(portPath, kPortSettings)) return 0;

  // The break restarts the target into the boot ROM; what it said before is of no interest.
  port->SendBreak();
  port->PurgeInput();
  HostClock().SleepMs(kAfterBreakMs);

  std::vector<uint8_t> image;
  if (!LoadImageBytes(kFlasherImageFile, &image)) return 0;
  const uint32_t length = static_cast<uint32_t>(image.size());
  // The register before its final complement: the check value the boot ROM compares.
  const uint32_t checkValue = ~Crc32Compute(crc, image.size(), image.data());
  std::string header;
  if (!BootRomHeader(checkValue, length, &header)) {
    std::cout << "Error: cannot upload " << kFlasherImageFile << ": its " << length
              << " bytes are more than the boot ROM takes (" << kBootRomLargestImage << ")." << std::endl;
    return 0;
  }
  const std::vector<uint32_t> words = ImageWords(image);

  if (!WaitForText(nullptr, " BOOTME", port.get(), kBootRomWaitMs)) return 0;

  WriteLog("Upload flasher image\n");
  std::cout << "\nFile open: " << kFlasherImageFile << ", size " << length << "\n"
            << "UBL CRC32: " << HexDigits(checkValue, 8) << "\n"
            << std::endl;

  if (!SendProtocolText(port.get(), kAckText, true)) return 0;
  if (!SendProtocolText(port.get(), header, false)) return 0;
  // A second " BOOTME" means the boot ROM did not take the header.
  if (!WaitForText(" BOOTME", "  BEGIN", port.get(), kBootRomWaitMs)) return 0;

  std::cout << "\n\t\t\tUploading CRC32 table.." << std::endl;
  if (!SendHexWords(port.get(), crc.table)) return 0;
  std::cout << std::endl;
  if (!WaitForText("CORRUPT", "   DONE", port.get(), kBootRomWaitMs)) return 0;

  std::cout << "\n\t\t\tUploading Data.." << std::endl;
  if (!SendHexWords(port.get(), words, &progress, length)) return 0;
  std::cout << std::endl;
  return WaitForText("CORRUPT", "   DONE", port.get(), kBootRomWaitMs) ? 1 : 0;
}
