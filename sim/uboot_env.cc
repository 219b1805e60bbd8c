#include "sim/uboot_env.h"

#include <algorithm>

#include "sim/crc.h"
#include "sim/firmware.h"

namespace sim {

std::optional<std::string> Environment::Get(const std::string& name) const {
  for (const Entry& e : entries_)
    if (e.first == name) return e.second;
  return std::nullopt;
}

size_t Environment::UsedBytes() const {
  size_t n = 0;
  for (const Entry& e : entries_) n += e.first.size() + 1 + e.second.size() + 1;
  return n;
}

bool Environment::Set(const std::string& name, const std::string& value) {
  std::vector<Entry> changed;
  for (const Entry& e : entries_)
    if (e.first != name) changed.push_back(e);
  changed.emplace_back(name, value);
  Environment candidate;
  candidate.entries_ = std::move(changed);
  // One byte stays for the empty entry that ends the list.
  if (candidate.UsedBytes() + 1 > kEnvDataSize) return false;
  entries_ = std::move(candidate.entries_);
  return true;
}

void Environment::Unset(const std::string& name) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const Entry& e) { return e.first == name; }),
                 entries_.end());
}

std::vector<uint8_t> Environment::ToBlock() const {
  std::vector<uint8_t> block(kUbootEnvSize, 0);
  size_t at = 4;
  for (const Entry& e : entries_) {
    const std::string text = e.first + "=" + e.second;
    std::copy(text.begin(), text.end(), block.begin() + at);
    at += text.size() + 1;  // the NUL is already there
  }
  const uint32_t crc = Crc32(block.data() + 4, kEnvDataSize);
  for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(crc >> (8 * i));
  return block;
}

std::optional<Environment> Environment::FromBlock(const std::vector<uint8_t>& block) {
  if (block.size() < kUbootEnvSize) return std::nullopt;
  const uint32_t stored = block[0] | block[1] << 8 | block[2] << 16 | uint32_t{block[3]} << 24;
  if (Crc32(block.data() + 4, kEnvDataSize) != stored) return std::nullopt;
  Environment env;
  size_t at = 4;
  while (at < kUbootEnvSize && block[at] != 0) {
    size_t end = at;
    while (end < kUbootEnvSize && block[end] != 0) ++end;
    const std::string text(block.begin() + at, block.begin() + end);
    const size_t eq = text.find('=');
    // An entry without '=' is not a variable; U-Boot skips it.
    if (eq != std::string::npos && eq > 0) env.entries_.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    at = end + 1;
  }
  return env;
}

Environment DefaultEnvironment(const Faults& faults) {
  Environment env;
  // As shipped: the kernel from the first NAND slot, the root file system on the card.
  env.Set("bootargs",
          "mem=120M console=ttyS0,115200n8 root=/dev/mmcblk0p1 rw rootfstype=ext3 rootwait "
          "rootdelay=4 noinitrd");
  env.Set("bootcmd", "nand read 0x80700000 0x200000 0x400000; bootm 0x80700000");
  env.Set("bootdelay", "3");
  env.Set("baudrate", "115200");
  env.Set("bootfile", "uImage");
  env.Set("stdin", "serial");
  env.Set("stdout", "serial");
  env.Set("stderr", "serial");
  if (!faults.missingEthaddr) env.Set("ethaddr", kFactoryEthaddr);
  if (!faults.missingSerialno) env.Set("serialno", kFactorySerialno);
  return env;
}

}  // namespace sim
