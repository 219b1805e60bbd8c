#include "sim/uboot_memory.h"

#include <algorithm>

namespace sim {

bool InDdr(uint32_t address, uint64_t length) {
  return address >= kDdrStart && uint64_t{address} + length <= uint64_t{kDdrStart} + kDdrSize;
}

namespace {

// The chunk that holds [address, address + length) whole, or ram.end().
template <typename AnyRam>
auto ChunkHolding(AnyRam& ram, uint32_t address, uint32_t length) {
  auto it = ram.upper_bound(address);
  if (it == ram.begin()) return ram.end();
  --it;
  if (uint64_t{it->first} + it->second.size() < uint64_t{address} + length) return ram.end();
  return it;
}

}  // namespace

std::vector<uint8_t> ReadRam(const Ram& ram, uint32_t address, uint32_t length) {
  std::vector<uint8_t> out(length, 0);
  const uint64_t end = uint64_t{address} + length;
  for (const auto& [start, bytes] : ram) {
    const uint64_t chunkEnd = uint64_t{start} + bytes.size();
    if (chunkEnd <= address || start >= end) continue;
    const uint64_t from = std::max<uint64_t>(start, address);
    const uint64_t to = std::min<uint64_t>(chunkEnd, end);
    std::copy(bytes.begin() + (from - start), bytes.begin() + (to - start),
              out.begin() + (from - address));
  }
  return out;
}

void WriteRam(Ram& ram, uint32_t address, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return;
  if (uint8_t* in = RamInPlace(ram, address, static_cast<uint32_t>(bytes.size()))) {
    std::copy(bytes.begin(), bytes.end(), in);
    return;
  }
  uint64_t first = address;
  uint64_t last = uint64_t{address} + bytes.size();
  // Chunks that touch the new range become part of one merged chunk.
  std::vector<uint32_t> merged;
  for (const auto& [start, chunk] : ram) {
    const uint64_t chunkEnd = uint64_t{start} + chunk.size();
    if (chunkEnd < address || start > last) continue;
    merged.push_back(start);
    first = std::min<uint64_t>(first, start);
    last = std::max<uint64_t>(last, chunkEnd);
  }
  std::vector<uint8_t> result(static_cast<size_t>(last - first), 0);
  for (uint32_t start : merged) {
    const std::vector<uint8_t>& chunk = ram[start];
    std::copy(chunk.begin(), chunk.end(), result.begin() + (start - first));
    ram.erase(start);
  }
  std::copy(bytes.begin(), bytes.end(), result.begin() + (address - first));
  ram[static_cast<uint32_t>(first)] = std::move(result);
}

const uint8_t* RamBytes(const Ram& ram, uint32_t address, uint32_t length, std::vector<uint8_t>* scratch) {
  const auto it = ChunkHolding(ram, address, length);
  if (it != ram.end()) return it->second.data() + (address - it->first);
  *scratch = ReadRam(ram, address, length);
  return scratch->data();
}

uint8_t* RamInPlace(Ram& ram, uint32_t address, uint32_t length) {
  // Chunks never touch (WriteRam merges them), so a write inside one leaves the others alone.
  const auto it = ChunkHolding(ram, address, length);
  return it == ram.end() ? nullptr : it->second.data() + (address - it->first);
}

}  // namespace sim
