// U-Boot's md: memory shown as bytes, half-words or words, 16 bytes a line with their characters.
#include <cstdio>

#include "sim/uboot_commands.h"
#include "sim/uboot_memory.h"

namespace sim {

namespace {

constexpr uint32_t kLineBytes = 16;

// md, md.b, md.w, md.l: the object size from what follows the dot (words without one).
bool ObjectSize(const std::string& name, uint32_t* size) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos) return *size = 4, true;
  const std::string suffix = name.substr(dot + 1);
  if (suffix == "b") return *size = 1, true;
  if (suffix == "w") return *size = 2, true;
  if (suffix == "l") return *size = 4, true;
  return false;
}

// The ARM926 reads its memory little-endian.
uint32_t Object(const std::vector<uint8_t>& bytes, size_t at, uint32_t size) {
  uint32_t value = 0;
  for (uint32_t i = size; i-- > 0;) value = value << 8 | bytes[at + i];
  return value;
}

// md ADDRESS [COUNT]: COUNT objects (hexadecimal, the last count when not given). On an empty line
// it goes on where it stopped, with the last size and count. Ctrl-C between lines stops it.
int MemoryDisplay(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  uint32_t address = ctx.mdAddress, size = ctx.mdSize, count = ctx.mdCount;
  if (!ctx.repeating) {
    if (argv.size() < 2 || !ObjectSize(argv[0], &size)) return PrintUsage(ctx, shell, "md");
    if (!ParseHex(argv[1], &address) || (argv.size() > 2 && !ParseHex(argv[2], &count))) {
      ctx.uart.Send("'" + argv[argv.size() > 2 ? 2 : 1] + "' is not a number\n");
      return 1;
    }
  }
  address -= address % size;
  uint64_t left = uint64_t{count} * size;
  int status = 0;
  while (left > 0) {
    const uint32_t lineBytes = left < kLineBytes ? static_cast<uint32_t>(left) : kLineBytes;
    const std::vector<uint8_t> bytes = ReadRam(ctx.board.ram, address, lineBytes);
    char text[16];
    std::snprintf(text, sizeof text, "%08x:", address);
    std::string line = text;
    for (uint32_t at = 0; at < lineBytes; at += size) {
      std::snprintf(text, sizeof text, " %0*x", static_cast<int>(size * 2), Object(bytes, at, size));
      line += text;
    }
    line += "    ";
    for (uint8_t b : bytes) line += b < 0x20 || b > 0x7e ? '.' : static_cast<char>(b);
    ctx.uart.Send(line + "\n");
    address += lineBytes;
    left -= lineBytes;
    if (ctx.CtrlC()) {
      status = 1;
      break;
    }
  }
  ctx.mdAddress = address;
  ctx.mdSize = size;
  ctx.mdCount = count;
  return status;
}

}  // namespace

std::vector<Command> MemoryCommands() {
  return {{"md", "md      - memory display", MemoryDisplay}};
}

}  // namespace sim
