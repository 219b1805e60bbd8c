// U-Boot's nand command: erase, read and write with the lines the host waits for ("OK",
// "written: OK", "read: OK"; "ERROR" when the chip refuses, as U-Boot 1.x words it).
#include <cstdio>
#include <sstream>

#include "sim/firmware.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_memory.h"

namespace sim {

namespace {

// As U-Boot 1.x reads on the board: the chip's page read (25 us), then its 2112 bytes taken one by
// one over the EMIF and the page's ECC checked: about 4 MB/s, a kernel slot of 4 MiB in a second.
constexpr Micros kReadMicrosPerPage = 500;

void Say(UBootContext& ctx, const char* format, uint32_t a, uint32_t b = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  ctx.uart.Send(text);
}

// Offset and size as U-Boot takes them: the offset defaults to 0, the size to the rest of the
// chip and is cut at its end. Prints "device 0 ..." as U-Boot does.
bool OffsetAndSize(UBootContext& ctx, const std::vector<std::string>& argv, size_t first,
                   uint32_t* offset, uint32_t* size) {
  *offset = 0;
  if (argv.size() > first && !ParseHex(argv[first], offset)) {
    ctx.uart.Send("'" + argv[first] + "' is not a number\n");
    return false;
  }
  if (*offset >= kNandSize) {
    ctx.uart.Send("Offset exceeds device limit\n");
    return false;
  }
  *size = kNandSize - *offset;
  if (argv.size() > first + 1) {
    if (!ParseHex(argv[first + 1], size)) {
      ctx.uart.Send("'" + argv[first + 1] + "' is not a number\n");
      return false;
    }
    if (*size > kNandSize - *offset) *size = kNandSize - *offset;
  }
  if (*size == kNandSize) ctx.uart.Send("device 0 whole chip\n");
  else Say(ctx, "device 0 offset 0x%x, size 0x%x\n", *offset, *size);
  return true;
}

// The bad-slots and flaky-slots faults: a kernel slot that goes bad once written (a worn block
// loses a bit of its image), though the write itself reported OK; a flaky slot only at its first
// write. Slots are counted from 1 in nand_kern_offs.
void DamageBadKernelSlot(UBootContext& ctx, uint32_t offset) {
  const Faults& faults = ctx.board.faults;
  const unsigned bad = faults.badKernelSlots | (faults.flakyKernelSlots & ~ctx.board.flakySlotsWritten);
  if (bad == 0) return;
  std::istringstream offsets(ctx.env.Get("nand_kern_offs").value_or(""));
  std::string word;
  for (int slot = 1; slot <= kKernelSlotCount && offsets >> word; ++slot) {
    uint32_t slotOffset = 0;
    if (!ParseHex(word, &slotOffset) || slotOffset != offset) continue;
    if ((bad & (1u << (slot - 1))) == 0) return;
    ctx.board.flakySlotsWritten |= faults.flakyKernelSlots & (1u << (slot - 1));
    // One bit of the first non-zero byte after the uImage header and the first KiB of data.
    const uint32_t from = offset + 64 + 1024;
    const std::vector<uint8_t> bytes = ctx.board.nand.Read(from, kNandPage);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == 0) continue;
      ctx.board.nand.Program(from + static_cast<uint32_t>(i),
                             {static_cast<uint8_t>(bytes[i] & (bytes[i] - 1))});
      ctx.board.events.push_back("u-boot: kernel slot " + std::to_string(slot) + " went bad (fault)");
      return;
    }
    return;
  }
}

int Erase(UBootContext& ctx, const std::vector<std::string>& argv) {
  ctx.uart.Send("\nNAND erase: ");
  uint32_t offset, size;
  if (!OffsetAndSize(ctx, argv, 2, &offset, &size)) return 1;
  if (offset % kNandEraseBlock != 0 || size == 0) {
    ctx.uart.Send("Attempt to erase non block aligned data\nERROR\n");
    return 1;
  }
  if (ctx.board.faults.eraseFail) {
    ctx.uart.Delay(Nand::EraseTime(kNandEraseBlock));
    Say(ctx, "Erasing at 0x%x --   0%% complete.\nNAND 128MiB 1,8V 8-bit: MTD Erase failure: -5\nERROR\n", offset);
    return 1;
  }
  ctx.uart.Delay(Nand::EraseTime(size));
  if (!ctx.board.nand.Erase(offset, size)) {
    ctx.uart.Send("ERROR\n");
    return 1;
  }
  const uint32_t last = (offset + size - 1) / kNandEraseBlock * kNandEraseBlock;
  Say(ctx, "Erasing at 0x%x -- 100%% complete.\nOK\n", last);
  char event[64];
  std::snprintf(event, sizeof event, "u-boot: nand erase 0x%x 0x%x", offset, size);
  ctx.board.events.push_back(event);
  return 0;
}

int ReadOrWrite(UBootContext& ctx, const std::vector<std::string>& argv, bool read) {
  uint32_t address;
  if (!ParseHex(argv[2], &address)) {
    ctx.uart.Send("'" + argv[2] + "' is not a number\n");
    return 1;
  }
  if (!read && ++ctx.nandWrites > static_cast<unsigned>(ctx.board.faults.clonesWritten))
    return 1;  // the clones=N fault: this copy is never made, without a word
  ctx.uart.Send(read ? "\nNAND read: " : "\nNAND write: ");
  uint32_t offset, size;
  if (!OffsetAndSize(ctx, argv, 3, &offset, &size)) return 1;
  const char* verb = read ? "read" : "written";
  if (!InDdr(address, size)) {
    Say(ctx, "RAM address 0x%08x is outside the DDR\n", address);
    ctx.uart.Send(std::string(" 0 bytes ") + verb + ": ERROR\n");
    return 1;
  }
  if (read) {
    ctx.uart.Delay(kReadMicrosPerPage * ((size + kNandPage - 1) / kNandPage));
    uint8_t* into = RamInPlace(ctx.board.ram, address, size);
    if (!into || !ctx.board.nand.ReadInto(offset, size, into))
      WriteRam(ctx.board.ram, address, ctx.board.nand.Read(offset, size));
    ctx.board.lastLoadSize = size;
    char text[64];
    std::snprintf(text, sizeof text, "%X", size);
    ctx.env.Set("filesize", text);
    std::snprintf(text, sizeof text, " %u bytes read: OK\n", size);
    ctx.uart.Send(text);
    return 0;
  }
  if (offset % kNandPage != 0) {
    ctx.uart.Send("Attempt to write non page aligned data\n 0 bytes written: ERROR\n");
    return 1;
  }
  ctx.uart.Delay(Nand::ProgramTime(size));
  std::vector<uint8_t> scratch;
  const uint8_t* data = RamBytes(ctx.board.ram, address, size, &scratch);
  // Programming can only clear bits: over data that was not erased the read-back differs.
  const Faults& faults = ctx.board.faults;
  const bool ok = !faults.cloneFail && !faults.cloneError && ctx.board.nand.Program(offset, data, size) &&
                  ctx.board.nand.Holds(offset, data, size);
  char text[96];
  if (!ok && faults.cloneError) {
    std::snprintf(text, sizeof text, "NAND write to offset %x failed -5\n 0 bytes %s: ERROR\n", offset, verb);
  } else {
    std::snprintf(text, sizeof text, " %u bytes %s: %s\n", size, verb, ok ? "OK" : "ERROR");
  }
  ctx.uart.Send(text);
  std::snprintf(text, sizeof text, "u-boot: nand write 0x%x 0x%x %s", offset, size, ok ? "OK" : "FAIL");
  ctx.board.events.push_back(text);
  if (ok) DamageBadKernelSlot(ctx, offset);
  return ok ? 0 : 1;
}

int NandCommand(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  const std::string sub = argv.size() > 1 ? argv[1] : "";
  if (sub == "info") {
    ctx.uart.Send("\nDevice 0: NAND 128MiB 1,8V 8-bit, sector size 128 KiB\n");
    return 0;
  }
  if (sub == "erase") return Erase(ctx, argv);
  if ((sub == "read" || sub == "write") && argv.size() >= 4) return ReadOrWrite(ctx, argv, sub == "read");
  return PrintUsage(ctx, shell, "nand");
}

}  // namespace

std::vector<Command> NandCommands() {
  return {{"nand",
           "nand erase [off size] - erase 'size' bytes from offset 'off'\n"
           "nand read addr off size - read 'size' bytes from offset 'off' to RAM address 'addr'\n"
           "nand write addr off size - write 'size' bytes from RAM address 'addr' to offset 'off'\n"
           "nand info - show the NAND device",
           NandCommand}};
}

}  // namespace sim
