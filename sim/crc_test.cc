#include "sim/crc.h"

#include <gtest/gtest.h>

#include <string>

namespace sim {
namespace {

// The catalogued check values: each CRC of "123456789".
TEST(Crc, CheckValues) {
  const std::string check = "123456789";
  const auto* data = reinterpret_cast<const uint8_t*>(check.data());
  EXPECT_EQ(Crc32(data, check.size(), 0), 0xCBF43926u);
  EXPECT_EQ(Crc16Xmodem(data, check.size()), 0x31C3u);
  EXPECT_EQ(Crc16Xmodem(data, 0), 0u);
}

}  // namespace
}  // namespace sim
