#include <algorithm>

#include "sim/firmware.h"

namespace sim {

namespace {

uint32_t BlockOf(uint32_t offset) { return offset - offset % kNandEraseBlock; }

}  // namespace

std::vector<uint8_t> Nand::Read(uint32_t offset, uint32_t length) const {
  if (offset >= kNandSize) return {};
  if (length > kNandSize - offset) length = kNandSize - offset;
  // Each byte written once: a kernel's read of 2 MiB is most of a simulated run's memory traffic.
  std::vector<uint8_t> out;
  out.reserve(length);
  uint32_t done = 0;
  while (done < length) {
    uint32_t at = offset + done;
    uint32_t block = BlockOf(at);
    uint32_t inBlock = at - block;
    uint32_t chunk = kNandEraseBlock - inBlock;
    if (chunk > length - done) chunk = length - done;
    auto it = blocks_.find(block);
    if (it != blocks_.end()) {
      const auto from = it->second.begin() + inBlock;
      out.insert(out.end(), from, from + chunk);
    } else {
      out.insert(out.end(), chunk, 0xFF);
    }
    done += chunk;
  }
  return out;
}

bool Nand::Holds(uint32_t offset, const std::vector<uint8_t>& data) const {
  if (offset > kNandSize || data.size() > kNandSize - offset) return false;
  const uint32_t length = static_cast<uint32_t>(data.size());
  uint32_t done = 0;
  while (done < length) {
    uint32_t at = offset + done;
    uint32_t block = BlockOf(at);
    uint32_t inBlock = at - block;
    uint32_t chunk = kNandEraseBlock - inBlock;
    if (chunk > length - done) chunk = length - done;
    const auto expected = data.begin() + done;
    auto it = blocks_.find(block);
    if (it != blocks_.end()) {
      if (!std::equal(expected, expected + chunk, it->second.begin() + inBlock)) return false;
    } else if (std::find_if(expected, expected + chunk, [](uint8_t b) { return b != 0xFF; }) != expected + chunk) {
      return false;
    }
    done += chunk;
  }
  return true;
}

bool Nand::Program(uint32_t offset, const std::vector<uint8_t>& data) {
  if (offset > kNandSize || data.size() > kNandSize - offset) return false;
  uint32_t length = static_cast<uint32_t>(data.size());
  uint32_t done = 0;
  while (done < length) {
    uint32_t at = offset + done;
    uint32_t block = BlockOf(at);
    uint32_t inBlock = at - block;
    uint32_t chunk = kNandEraseBlock - inBlock;
    if (chunk > length - done) chunk = length - done;
    bool allOnes = true;
    for (uint32_t i = 0; i < chunk && allOnes; ++i) allOnes = data[done + i] == 0xFF;
    if (!allOnes) {
      auto& bytes = blocks_[block];
      const auto from = data.begin() + done;
      if (bytes.empty()) {  // an erased block takes the data as it is
        bytes.assign(kNandEraseBlock, 0xFF);
        std::copy(from, from + chunk, bytes.begin() + inBlock);
      } else {
        // Programming only clears bits; setting them again needs an erase.
        for (uint32_t i = 0; i < chunk; ++i) bytes[inBlock + i] &= from[i];
      }
    }
    done += chunk;
  }
  return true;
}

bool Nand::Erase(uint32_t offset, uint32_t length) {
  if (offset % kNandEraseBlock != 0 || offset >= kNandSize || length > kNandSize - offset) return false;
  for (uint32_t block = offset; block < offset + length; block += kNandEraseBlock) blocks_.erase(block);
  return true;
}

bool Nand::IsErased(uint32_t offset, uint32_t length) const {
  for (uint8_t b : Read(offset, length))
    if (b != 0xFF) return false;
  return true;
}

Micros Nand::EraseTime(uint32_t length) {
  uint64_t blocks = (static_cast<uint64_t>(length) + kNandEraseBlock - 1) / kNandEraseBlock;
  return blocks * 2000;
}

Micros Nand::ProgramTime(uint32_t length) {
  uint64_t pages = (static_cast<uint64_t>(length) + kNandPage - 1) / kNandPage;
  return pages * 200;
}

}  // namespace sim
