// The DM6446 boot ROM: starts the UBL from NAND when block 1 holds a valid one; else, or when the
// UBL comes back without a U-Boot to start, UART boot: announce " BOOTME", take "    ACK" and its
// NUL, the 20-character header, the CRC table and the image as hexadecimal text, check everything,
// and run the image it received.
#include <string>
#include <vector>

#include "sim/crc.h"
#include "sim/firmware.h"
#include "sim/firmware_io.h"
#include "sim/images.h"

namespace sim {

namespace {

constexpr size_t kHeaderLength = 20;
constexpr size_t kTableLength = 256 * 8;
constexpr uint32_t kMaxUartImage = 0xFFFC;  // the header's four digits, whole words

// The UBL that block 1 describes, when it is one the ROM may start.
bool FindUbl(const BoardState& board, std::string* why) {
  NandDescriptor d = ReadDescriptor(board.nand, kUblOffset);
  if (d.magic != kUblMagic) {
    *why = "no UBL descriptor in block 1";
    return false;
  }
  if (d.entryPoint != kUblEntryPoint || d.loadAddress != kUblLoadAddress || d.byteCount > kUblMaxSize) {
    *why = "UBL descriptor with a bad entry point, load address or size";
    return false;
  }
  std::vector<uint8_t> image = ReadDescribedImage(board.nand, d);
  if (image.empty()) {
    *why = "UBL descriptor points outside the device";
    return false;
  }
  return CheckBootImage(image.data(), image.size(), ImageKind::kUbl, why);
}

struct Header {
  uint32_t checkValue = 0;
  uint32_t size = 0;
};

bool ParseHeader(const std::string& text, Header* header, std::string* why) {
  uint32_t start = 0;
  if (!ParseHex(text, 0, 8, &header->checkValue) || !ParseHex(text, 8, 4, &header->size) ||
      !ParseHex(text, 12, 4, &start)) {
    *why = "header is not hexadecimal";
    return false;
  }
  if (header->size == 0 || header->size % 4 != 0 || header->size > kMaxUartImage) {
    *why = "header byte count is not a whole number of words";
    return false;
  }
  if (start != 0x0100 || text.compare(16, 4, "0000") != 0) {
    *why = "header start address or tail is wrong";
    return false;
  }
  return true;
}

// The CRC table must be the real one, entry by entry.
bool TableIsRight(const std::string& text) {
  for (unsigned i = 0; i < 256; ++i) {
    uint32_t entry = 0;
    if (!ParseHex(text, i * 8, 8, &entry) || entry != Crc32TableEntry(i)) return false;
  }
  return true;
}

// Words arrive most significant digit first and hold the file bytes least significant first.
bool DecodeWords(const std::string& text, std::vector<uint8_t>* image) {
  image->assign(text.size() / 2, 0);
  for (size_t w = 0; w < text.size() / 8; ++w) {
    uint32_t word = 0;
    if (!ParseHex(text, w * 8, 8, &word)) return false;
    PutLe32(&(*image)[w * 4], word);
  }
  return true;
}

// The check value covers the file bytes only, not the zero fill of the last word. The ROM knows
// the size in whole words; the images of this board carry their own length, which settles it, and
// for anything else it accepts the one length within the last word whose cut-off bytes are zero.
bool CheckValueHolds(const std::vector<uint8_t>& image, uint32_t checkValue) {
  if (image.size() >= kIdentitySize && GetLe32(image.data()) == kIdentityMagic) {
    uint64_t length = kIdentitySize + static_cast<uint64_t>(GetLe32(&image[8]));
    if (length <= image.size() && length + 4 > image.size())
      return ~Crc32(image.data(), static_cast<size_t>(length)) == checkValue;
  }
  for (size_t cut = 0; cut < 4 && cut < image.size(); ++cut) {
    size_t length = image.size() - cut;
    if (cut > 0 && image[length] != 0) break;
    if (~Crc32(image.data(), length) == checkValue) return true;
  }
  return false;
}

[[noreturn]] void Hang(Uart& uart) {
  for (;;) uart.Receive(kNever);
}

}  // namespace

void RunBootRom(Uart& uart, BoardState& board) {
  if (board.faults.silent) {
    Note(board, "boot rom: silent");
    Hang(uart);
  }
  std::string why;
  if (FindUbl(board, &why)) {
    Note(board, "boot rom: UBL found in NAND");
    RunUbl(uart, board);  // returns only when it found no U-Boot to start
    Note(board, "boot rom: the UBL found no U-Boot, UART boot");
  } else {
    Note(board, "boot rom: " + why + ", UART boot");
  }
  bool repeat = !board.faults.noAnnounceRepeat;
  for (;;) {
    WaitForMessage(uart, std::string("    ACK") + '\0', " BOOTME", repeat);
    Header header;
    if (!ParseHeader(ReceiveExactly(uart, kHeaderLength), &header, &why)) {
      Note(board, "boot rom: " + why);
      continue;  // " BOOTME" again
    }
    if (board.faults.bootmeForBegin) {
      Note(board, "boot rom: BOOTME for BEGIN (fault)");
      continue;
    }
    SendMessage(uart, "  BEGIN");
    if (!TableIsRight(ReceiveExactly(uart, kTableLength))) {
      Note(board, "boot rom: CRC table corrupt");
      SendMessage(uart, "CORRUPT");
      continue;
    }
    if (board.faults.corruptAfterTable) {
      Note(board, "boot rom: CORRUPT after the table (fault)");
      SendMessage(uart, "CORRUPT");
      continue;
    }
    SendMessage(uart, "   DONE");
    std::vector<uint8_t> image;
    if (!DecodeWords(ReceiveExactly(uart, header.size * 2), &image) || !CheckValueHolds(image, header.checkValue)) {
      Note(board, "boot rom: image check value mismatch");
      SendMessage(uart, "CORRUPT");
      continue;
    }
    if (board.faults.corruptAfterImage) {
      Note(board, "boot rom: CORRUPT after the image (fault)");
      SendMessage(uart, "CORRUPT");
      continue;
    }
    SendMessage(uart, "   DONE");
    if (!CheckBootImage(image.data(), image.size(), ImageKind::kFlasher, &why)) {
      // The ROM jumps into whatever it received; what is no flasher never answers.
      Note(board, "boot rom: received image is no serial flasher (" + why + "), board hangs");
      Hang(uart);
    }
    Note(board, "boot rom: starting the serial flasher " + BootImageName(image.data(), image.size()));
    RunSerialFlasher(uart, board);
    return;
  }
}

}  // namespace sim
