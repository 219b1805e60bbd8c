// The UBL the boot ROM starts from NAND: finds U-Boot's descriptor in block 4, checks the image,
// copies it to RAM and starts it, reporting each stage on the console as TI's UBL does. Without a
// valid U-Boot it hands the board back to the boot ROM's serial boot, so that a board whose U-Boot
// was cut off can be flashed again over the cable.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/firmware.h"
#include "sim/firmware_io.h"
#include "sim/images.h"

namespace sim {

namespace {

constexpr Micros kInitTime = 20 * kMillisecond;  // PLLs, DDR, NAND controller
constexpr Micros kPageReadTime = 50;            // per 2 KiB page

std::string BlockText(uint32_t offset) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(offset / kNandEraseBlock));
  return text;
}

// The U-Boot image block 4 describes, or the reason it is not one.
bool LoadUBoot(const BoardState& board, std::vector<uint8_t>* image, std::string* why) {
  NandDescriptor d = ReadDescriptor(board.nand, kUbootOffset);
  if (d.magic != kUBootMagic) {
    *why = "Bad magicnum, " + Hex8(d.magic) + ", in block " + BlockText(kUbootOffset) + ".";
    return false;
  }
  *image = ReadDescribedImage(board.nand, d);
  std::string problem;
  if (d.entryPoint != kUBootEntryPoint || d.loadAddress != kUBootLoadAddress || image->empty() ||
      !CheckBootImage(image->data(), image->size(), ImageKind::kUBoot, &problem)) {
    if (problem.empty()) problem = "bad descriptor";
    *why = "Bad U-Boot image in block " + BlockText(kUbootOffset) + ": " + problem + ".";
    return false;
  }
  return true;
}

}  // namespace

void RunUbl(Uart& uart, BoardState& board) {
  uart.Delay(kInitTime);
  SendLine(uart, "DM644x initialization passed!");
  SendLine(uart, "TI UBL Version: 1.50 (Brenlo sim)");
  SendLine(uart, "Booting Catalog Boot Loader");
  SendLine(uart, "BootMode = NAND");
  SendLine(uart, "Starting NAND Copy...");
  std::vector<uint8_t> image;
  std::string why;
  bool valid = LoadUBoot(board, &image, &why);
  uart.Delay(kPageReadTime * (image.size() / kNandPage + 2));
  if (valid && board.faults.ublBad) {
    valid = false;
    why = "Bad magicnum, " + Hex8(kUBootMagic) + ", block " + BlockText(kUbootOffset) + " fails its ECC check.";
  }
  if (!valid) {
    Note(board, "ubl: " + why);
    SendLine(uart, why);
    SendLine(uart, "No valid boot image found!");
    SendLine(uart, "   FAIL");
    return;  // back to the boot ROM, which goes on to its serial boot
  }
  SendLine(uart, "Valid magicnum, " + Hex8(kUBootMagic) + ", found in block " + BlockText(kUbootOffset) + ".");
  SendLine(uart, "   DONE");
  SendLine(uart, "Copied U-Boot from NAND to " + Hex8(kUBootLoadAddress) + ", jumping to entry point " +
                     Hex8(kUBootEntryPoint) + ".");
  Note(board, "ubl: starting U-Boot " + BootImageName(image.data(), image.size()));
  RunUBoot(uart, board);
}

}  // namespace sim
