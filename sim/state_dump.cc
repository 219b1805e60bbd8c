#include "sim/state_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "sim/crc.h"
#include "sim/firmware_io.h"
#include "sim/images.h"

namespace sim {

namespace {

// The defaults the kit's environment programs; a saved environment overrides them.
const char* const kDefaultSlots = "0x00200000 0x3200000 0x3600000 0x4000000 0x4400000 0x4800000 0x5200000 "
                                  "0x5600000 0x6000000 0x6400000";
constexpr uint32_t kDefaultSlotSize = 0x400000;

// A number as U-Boot's environment writes it (hexadecimal with 0x, else decimal); 0 when it is none.
uint32_t ParseNumber(const std::string& text) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  return (end && *end == '\0') ? static_cast<uint32_t>(v) : 0;
}

std::string DescribeBootImage(const Nand& nand, uint32_t block, uint32_t magic, ImageKind kind) {
  NandDescriptor d = ReadDescriptor(nand, block);
  if (nand.IsErased(block, kNandPage)) return "erased";
  if (d.magic != magic) return "no descriptor (magic " + Hex8(d.magic) + ")";
  std::vector<uint8_t> image = ReadDescribedImage(nand, d);
  std::string why;
  if (image.empty() || !CheckBootImage(image.data(), image.size(), kind, &why)) return "damaged (" + why + ")";
  return "valid \"" + BootImageName(image.data(), image.size()) + "\", " + std::to_string(d.byteCount) + " bytes";
}

std::vector<uint8_t> UploadedKernel(const BoardState& board) {
  auto it = board.ram.find(kRamLoadAddress);
  if (it == board.ram.end()) return {};
  size_t length = 0;
  std::string why;
  if (!CheckUImage(it->second.data(), it->second.size(), &length, &why)) return {};
  return std::vector<uint8_t>(it->second.begin(), it->second.begin() + static_cast<long>(length));
}

}  // namespace

bool ReadSavedEnvironment(const Nand& nand, std::map<std::string, std::string>* env) {
  std::vector<uint8_t> block = nand.Read(kUbootEnvOffset, kUbootEnvSize);
  if (nand.IsErased(kUbootEnvOffset, kUbootEnvSize)) return false;
  if (Crc32(block.data() + 4, block.size() - 4) != GetLe32(block.data())) return false;
  size_t i = 4;
  while (i < block.size() && block[i] != 0) {
    size_t end = i;
    while (end < block.size() && block[end] != 0) ++end;
    std::string entry(block.begin() + static_cast<long>(i), block.begin() + static_cast<long>(end));
    size_t eq = entry.find('=');
    if (eq != std::string::npos) (*env)[entry.substr(0, eq)] = entry.substr(eq + 1);
    i = end + 1;
  }
  return true;
}

std::string DescribeBoardState(const BoardState& board) {
  std::ostringstream out;
  const Nand& nand = board.nand;
  out << "nand.ubl: " << DescribeBootImage(nand, kUblOffset, kUblMagic, ImageKind::kUbl) << "\n";
  out << "nand.uboot: " << DescribeBootImage(nand, kUbootOffset, kUBootMagic, ImageKind::kUBoot) << "\n";

  std::map<std::string, std::string> env;
  bool saved = ReadSavedEnvironment(nand, &env);
  out << "nand.env: "
      << (saved ? "saved, " + std::to_string(env.size()) + " variables"
                : nand.IsErased(kUbootEnvOffset, kUbootEnvSize) ? "erased" : "bad CRC")
      << "\n";

  std::vector<uint8_t> kernel = UploadedKernel(board);
  out << "ram.kernel: " << (kernel.empty() ? "none" : std::to_string(kernel.size()) + " bytes") << "\n";
  std::string slots = env.count("nand_kern_offs") ? env["nand_kern_offs"] : kDefaultSlots;
  uint32_t slotSize = env.count("kernel_size") ? ParseNumber(env["kernel_size"])
                                               : kDefaultSlotSize;
  std::istringstream offsets(slots);
  std::string word;
  int index = 0, equal = 0;
  while (offsets >> word) {
    uint32_t offset = ParseNumber(word);
    if (slotSize == 0 || slotSize > kNandSize) break;
    std::vector<uint8_t> bytes = nand.Read(offset, slotSize);
    size_t length = 0;
    std::string why, what;
    if (nand.IsErased(offset, slotSize)) {
      what = "erased";
    } else if (!CheckUImage(bytes.data(), bytes.size(), &length, &why)) {
      what = "no valid uImage (" + why + ")";
    } else {
      bool same = !kernel.empty() && length == kernel.size() &&
                  std::equal(kernel.begin(), kernel.end(), bytes.begin());
      equal += same ? 1 : 0;
      what = "uImage " + std::to_string(length) + " bytes, " + (same ? "equals" : "differs from") + " the uploaded kernel";
    }
    out << "nand.kernel." << index++ << ": " << Hex8(offset) << " " << what << "\n";
  }
  out << "nand.kernel.equal: " << equal << "/" << index << "\n";

  std::vector<std::pair<uint32_t, uint32_t>> ranges;  // other blocks that hold data
  for (const auto& block : nand.Blocks()) {
    if (!ranges.empty() && ranges.back().second == block.first) ranges.back().second += kNandEraseBlock;
    else ranges.emplace_back(block.first, block.first + kNandEraseBlock);
  }
  for (const auto& r : ranges) out << "nand.used: " << Hex8(r.first) << "-" << Hex8(r.second) << "\n";
  for (const auto& kv : env) out << "env." << kv.first << "=" << kv.second << "\n";
  out << "resets: " << board.resets << "\n";
  out << "uboot.repeated: " << board.repeatedCommands << "\n";
  out << "uart.lost: " << board.lostCharacters << "\n";
  for (const auto& run : board.scriptRuns) out << "uboot.run." << run.first << ": " << run.second << "\n";
  for (const std::string& e : board.events) out << "event: " << e << "\n";
  return out.str();
}

}  // namespace sim
