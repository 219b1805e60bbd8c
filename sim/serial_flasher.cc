// The serial flasher the boot ROM starts: announces "BOOTUBL", takes the flash command, then asks
// for the UBL and U-Boot with "SENDIMG", checks each 36-character header and writes the raw bytes
// into NAND behind a descriptor page, where the boot ROM and the UBL look for them. An image's
// blocks are erased as soon as its header is taken: a transfer cut off in U-Boot's image leaves
// the new UBL and no U-Boot, not the old one.
#include <string>
#include <vector>

#include "sim/firmware.h"
#include "sim/firmware_io.h"
#include "sim/images.h"

namespace sim {

namespace {

constexpr uint32_t kFlashCommand = 0x55424C10;  // "UBL" and 0x10: write UBL and U-Boot to NAND
constexpr size_t kImageHeaderLength = 36;

struct Expected {
  const char* what;
  uint32_t magic;
  uint32_t entryPoint;
  uint32_t loadAddress;
  uint32_t maxSize;
  uint32_t block;
};

const Expected kImages[] = {
    {"UBL", kUblMagic, kUblEntryPoint, kUblLoadAddress, kUblMaxSize, kUblOffset},
    {"U-Boot", kUBootMagic, kUBootEntryPoint, kUBootLoadAddress, kUBootMaxSize, kUbootOffset},
};

bool CheckHeader(const std::string& text, const Expected& expected, uint32_t* size, std::string* why) {
  uint32_t magic = 0, entry = 0, load = 0;
  if (!ParseHex(text, 0, 8, &magic) || !ParseHex(text, 8, 8, &entry) || !ParseHex(text, 16, 8, size) ||
      !ParseHex(text, 24, 8, &load) || text.compare(32, 4, "0000") != 0) {
    *why = "malformed image header";
    return false;
  }
  if (magic != expected.magic) {
    *why = "magic " + Hex8(magic) + " where " + Hex8(expected.magic) + " was due";
    return false;
  }
  if (entry != expected.entryPoint || load != expected.loadAddress) {
    *why = "entry point " + Hex8(entry) + " or load address " + Hex8(load) + " is wrong";
    return false;
  }
  if (*size == 0 || *size > expected.maxSize) {
    *why = "data count " + Hex8(*size) + " out of range";
    return false;
  }
  return true;
}

}  // namespace

void RunSerialFlasher(Uart& uart, BoardState& board) {
  bool repeat = !board.faults.noAnnounceRepeat;
  for (;;) {
    WaitForMessage(uart, std::string("    CMD") + '\0', "BOOTUBL", repeat);
    uint32_t command = 0;
    std::string word = ReceiveExactly(uart, 8);
    if (!ParseHex(word, 0, 8, &command) || command != kFlashCommand) {
      Note(board, "flasher: unknown command " + word);
      SendMessage(uart, "   FAIL");
      continue;
    }
    SendMessage(uart, "   DONE");
    bool failed = false;
    for (const Expected& expected : kImages) {
      SendMessage(uart, "SENDIMG");
      WaitForMessage(uart, std::string("    ACK") + '\0', nullptr, false);
      std::string header = ReceiveExactly(uart, kImageHeaderLength);
      uint32_t size = 0;
      std::string why;
      if (!CheckHeader(header, expected, &size, &why) || board.faults.failHeader) {
        Note(board, std::string("flasher: ") + expected.what + " header refused: " +
                        (board.faults.failHeader ? "fault" : why));
        SendMessage(uart, "   FAIL");
        failed = true;
        break;
      }
      uint32_t span = (size / kNandPage + 2) * kNandPage;  // descriptor page and the image
      uart.Delay(Nand::EraseTime(span));
      board.nand.Erase(expected.block, span);
      SendMessage(uart, "  BEGIN");
      if (&expected == &kImages[1] && board.faults.flasherStall && !board.flasherStalled) {
        // Half the image, then nothing more is taken: the flasher waits for bytes that never count.
        ReceiveExactly(uart, size / 2);
        board.flasherStalled = true;
        Note(board, "flasher: stalled halfway through U-Boot (fault)");
        for (;;) uart.Receive(kNever);
      }
      std::string data = ReceiveExactly(uart, size);
      WriteBootImageToNand(board.nand, expected.block, expected.magic, expected.entryPoint, expected.loadAddress,
                           std::vector<uint8_t>(data.begin(), data.end()));
      uart.Delay(Nand::ProgramTime(span));
      Note(board, std::string("flasher: wrote ") + expected.what + " " + std::to_string(size) + " bytes at " +
                      Hex8(expected.block));
      SendMessage(uart, "   DONE");
    }
    if (!failed) {
      Note(board, "flasher: done");
      for (;;) uart.Receive(kNever);
    }
  }
}

}  // namespace sim
