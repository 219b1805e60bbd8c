#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "sim/firmware.h"
#include "sim/uboot_memory.h"

namespace sim {
namespace {

// The RAM against a byte-wise model: after every write each byte reads as last written (zero where
// never written), the chunks are exactly the runs of written bytes, and a range read in place or
// as a copy is the same.
TEST(Ram, WritesInPlaceOrMergedLeaveTheChunksAndBytesAByteWiseModelExpects) {
  std::mt19937 random(7);
  const uint32_t base = kRamLoadAddress;
  constexpr uint32_t kWindow = 400;
  Ram ram;
  std::map<uint32_t, uint8_t> written;  // offset from base -> byte
  for (int step = 0; step < 3000; ++step) {
    const uint32_t at = random() % (kWindow - 40), length = 1 + random() % 40;
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    WriteRam(ram, base + at, bytes);
    for (uint32_t i = 0; i < length; ++i) written[at + i] = bytes[i];

    std::vector<std::pair<uint32_t, uint32_t>> runs;  // start, length
    for (const auto& [offset, byte] : written) {
      if (!runs.empty() && runs.back().first + runs.back().second == offset) {
        ++runs.back().second;
      } else {
        runs.push_back({offset, 1});
      }
    }
    std::vector<std::pair<uint32_t, uint32_t>> chunks;
    for (const auto& [start, chunk] : ram) chunks.push_back({start - base, static_cast<uint32_t>(chunk.size())});
    ASSERT_EQ(chunks, runs) << "after write " << step;

    std::vector<uint8_t> expected(kWindow, 0);
    for (const auto& [offset, byte] : written) expected[offset] = byte;
    ASSERT_EQ(ReadRam(ram, base, kWindow), expected) << "after write " << step;
    const uint32_t from = random() % kWindow, count = random() % (kWindow - from);
    std::vector<uint8_t> scratch;
    const uint8_t* view = RamBytes(ram, base + from, count, &scratch);
    ASSERT_EQ(std::vector<uint8_t>(view, view + count),
              std::vector<uint8_t>(expected.begin() + from, expected.begin() + from + count));
  }
}

}  // namespace
}  // namespace sim
