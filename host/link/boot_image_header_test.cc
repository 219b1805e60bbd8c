#include "host/link/boot_image_header.h"

#include <gtest/gtest.h>

#include "host/link/flasher_upload_header.h"

namespace {

TEST(HexDigits, ZeroPaddedInEitherCase) {
  EXPECT_EQ(HexDigits(0x55424C10, 8, false), "55424c10");
  EXPECT_EQ(HexDigits(0xA1ACED00, 8), "A1ACED00");
  EXPECT_EQ(HexDigits(0, 8), "00000000");
  EXPECT_EQ(HexDigits(0xC, 4), "000C");
  EXPECT_EQ(HexDigits(0x10000, 4), "10000");  // never cut: callers check the width themselves
}

TEST(BootImageHeader, UblOf14336Bytes) {
  EXPECT_EQ(BootImageHeader(0xA1ACED00, 0x00000100, 14336, 0x00000020),
            "A1ACED00000001000000380000000020"
            "0000");
  EXPECT_EQ(BootImageHeader(0x55424CBB, 0x81080000, 0x3FFFF, 0x81080000),
            "55424CBB810800000003FFFF810800000000");
}

TEST(BootRomHeader, CheckValueRoundedCountAndStartAddress) {
  std::string header;
  ASSERT_TRUE(BootRomHeader(0x340BC6D9, 10, &header));
  EXPECT_EQ(header, "340BC6D9000C01000000");
  ASSERT_TRUE(BootRomHeader(0x00000001, 12, &header));
  EXPECT_EQ(header, "00000001000C01000000");  // a multiple of 4 is its own count
  ASSERT_TRUE(BootRomHeader(0xFFFFFFFF, 1, &header));
  EXPECT_EQ(header, "FFFFFFFF000401000000");
}

TEST(BootRomHeader, RefusesWhatFourDigitsCannotCount) {
  std::string header = "untouched";
  EXPECT_TRUE(BootRomHeader(0, 0xFFFC, &header));
  EXPECT_EQ(header.substr(8, 4), "FFFC");
  header = "untouched";
  EXPECT_FALSE(BootRomHeader(0, 0xFFFD, &header));  // rounds to 0x10000
  EXPECT_FALSE(BootRomHeader(0, 0xFFFFFFFF, &header));  // must not wrap to a small count
  EXPECT_EQ(header, "untouched");
}

}  // namespace
