#include <algorithm>

#include "sim/firmware.h"

namespace sim {

namespace {

uint32_t BlockOf(uint32_t offset) { return offset - offset % kNandEraseBlock; }

// Walks [offset, offset + length) a piece at a time, each inside one erase block:
// piece(done, block, inBlock, count) for the count bytes from offset + done, at inBlock in the block
// that starts at block. A piece that returns false ends the walk, and the walk returns false.
template <typename Piece>
bool ForEachPiece(uint32_t offset, uint32_t length, Piece piece) {
  uint32_t done = 0;
  while (done < length) {
    const uint32_t at = offset + done;
    const uint32_t block = BlockOf(at);
    const uint32_t inBlock = at - block;
    const uint32_t count = std::min(kNandEraseBlock - inBlock, length - done);
    if (!piece(done, block, inBlock, count)) return false;
    done += count;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> Nand::Read(uint32_t offset, uint32_t length) const {
  if (offset >= kNandSize) return {};
  if (length > kNandSize - offset) length = kNandSize - offset;
  std::vector<uint8_t> out(length);
  ReadInto(offset, length, out.data());
  return out;
}

bool Nand::ReadInto(uint32_t offset, uint32_t length, uint8_t* out) const {
  if (offset > kNandSize || length > kNandSize - offset) return false;
  return ForEachPiece(offset, length, [&](uint32_t done, uint32_t block, uint32_t inBlock, uint32_t count) {
    auto it = blocks_.find(block);
    if (it != blocks_.end()) {
      std::copy_n(it->second.begin() + inBlock, count, out + done);
    } else {
      std::fill_n(out + done, count, 0xFF);
    }
    return true;
  });
}

bool Nand::Holds(uint32_t offset, const uint8_t* data, size_t length) const {
  if (offset > kNandSize || length > kNandSize - offset) return false;
  return ForEachPiece(offset, static_cast<uint32_t>(length),
                      [&](uint32_t done, uint32_t block, uint32_t inBlock, uint32_t count) {
                        const uint8_t* expected = data + done;
                        auto it = blocks_.find(block);
                        if (it != blocks_.end())
                          return std::equal(expected, expected + count, it->second.begin() + inBlock);
                        return std::all_of(expected, expected + count, [](uint8_t b) { return b == 0xFF; });
                      });
}

bool Nand::Program(uint32_t offset, const uint8_t* data, size_t length) {
  if (offset > kNandSize || length > kNandSize - offset) return false;
  ForEachPiece(offset, static_cast<uint32_t>(length),
               [&](uint32_t done, uint32_t block, uint32_t inBlock, uint32_t count) {
                 const uint8_t* from = data + done;
                 if (std::all_of(from, from + count, [](uint8_t b) { return b == 0xFF; })) return true;
                 auto& bytes = blocks_[block];
                 if (bytes.empty()) {  // an erased block takes the data as it is
                   if (count == kNandEraseBlock) {
                     bytes.assign(from, from + count);
                   } else {
                     bytes.assign(kNandEraseBlock, 0xFF);
                     std::copy(from, from + count, bytes.begin() + inBlock);
                   }
                 } else {
                   // Programming only clears bits; setting them again needs an erase.
                   for (uint32_t i = 0; i < count; ++i) bytes[inBlock + i] &= from[i];
                 }
                 return true;
               });
  return true;
}

bool Nand::Erase(uint32_t offset, uint32_t length) {
  if (offset % kNandEraseBlock != 0 || offset >= kNandSize || length > kNandSize - offset) return false;
  for (uint32_t block = offset; block < offset + length; block += kNandEraseBlock) blocks_.erase(block);
  return true;
}

bool Nand::IsErased(uint32_t offset, uint32_t length) const {
  if (offset >= kNandSize) return true;
  if (length > kNandSize - offset) length = kNandSize - offset;
  return ForEachPiece(offset, length, [&](uint32_t, uint32_t block, uint32_t inBlock, uint32_t count) {
    auto it = blocks_.find(block);
    if (it == blocks_.end()) return true;
    const auto from = it->second.begin() + inBlock;
    return std::all_of(from, from + count, [](uint8_t b) { return b == 0xFF; });
  });
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
