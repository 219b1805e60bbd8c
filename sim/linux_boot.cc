#include "sim/linux_boot.h"

namespace sim {

namespace {

constexpr uint32_t kTagNone = 0x00000000, kTagCore = 0x54410001, kTagMem = 0x54410002,
                   kTagCmdline = 0x54410009;

void PutWord(std::vector<uint8_t>& out, uint32_t word) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
}

uint32_t GetWord(const std::vector<uint8_t>& in, size_t at) {
  return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | uint32_t{in[at + 3]} << 24;
}

constexpr uint32_t kTagAreaSize = 0x1000;

}  // namespace

void WriteBootTags(Ram& ram, const std::optional<std::string>& commandLine) {
  std::vector<uint8_t> tags;
  PutWord(tags, 5);
  PutWord(tags, kTagCore);
  PutWord(tags, 0);     // flags
  PutWord(tags, 4096);  // page size
  PutWord(tags, 0);     // root device
  PutWord(tags, 4);
  PutWord(tags, kTagMem);
  PutWord(tags, kDdrSize);
  PutWord(tags, kDdrStart);
  if (commandLine) {
    std::string text = *commandLine;
    text.resize((text.size() + 1 + 3) / 4 * 4, '\0');
    PutWord(tags, static_cast<uint32_t>(2 + text.size() / 4));
    PutWord(tags, kTagCmdline);
    tags.insert(tags.end(), text.begin(), text.end());
  }
  PutWord(tags, 0);
  PutWord(tags, kTagNone);
  WriteRam(ram, kBootTagsAddress, tags);
}

std::optional<std::string> ReadCommandLine(const Ram& ram) {
  const std::vector<uint8_t> area = ReadRam(ram, kBootTagsAddress, kTagAreaSize);
  if (GetWord(area, 4) != kTagCore) return std::nullopt;
  size_t at = 0;
  while (at + 8 <= area.size()) {
    const uint32_t words = GetWord(area, at);
    const uint32_t tag = GetWord(area, at + 4);
    if (tag == kTagNone || words < 2 || at + size_t{words} * 4 > area.size()) return std::nullopt;
    if (tag == kTagCmdline) {
      std::string text(area.begin() + at + 8, area.begin() + at + words * 4);
      return text.substr(0, text.find('\0'));
    }
    at += size_t{words} * 4;
  }
  return std::nullopt;
}

void Halt(Uart& uart) {
  for (;;) uart.Receive(kNever);
}

}  // namespace sim
