#include "device/eeprom/eeprom_words.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/eeprom/board_connection.h"
#include "device/eeprom/boardlib/phx_driver.h"
#include "device/testing/simulated_driver_seam.h"

namespace {

const long kEeprom = 0x120;

class EepromWords : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(PhxDrvConnectLib(), 0); }
  void TearDown() override { PhxDrvReleaseLib(); }

  // The image words as the EEPROM holds them from 0x2000 on.
  std::vector<uint16_t> Words(unsigned count) {
    std::vector<uint16_t> words;
    for (unsigned k = 0; k < count; ++k) words.push_back(store.Read(0x2000 + k));
    return words;
  }

  simboard::MemoryWordStore store;
  simboard::SimBoardDriver driver{store, simboard::DefaultDevices(), {}};
  SimulatedDriverSeam seam{driver};
};

TEST_F(EepromWords, EachWordIsSelectedThenWrittenLowByteFirst) {
  const unsigned char bytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  ASSERT_EQ(WriteEepromWords(kEeprom, 4, bytes, 6), 0);
  ASSERT_EQ(driver.commands().size(), 6u);
  for (unsigned k = 0; k < 3; ++k) {
    EXPECT_EQ(driver.commands()[2 * k].word, ((0x2004u + k) << 16) | 0x0FFDu);
    EXPECT_EQ(driver.commands()[2 * k + 1].word & 0xFFFFu, 0x0FFFu);
  }
  EXPECT_EQ(store.Read(0x2004), 0x2211);
  EXPECT_EQ(store.Read(0x2005), 0x4433);
  EXPECT_EQ(store.Read(0x2006), 0x6655);

  unsigned char back[6] = {0};
  ASSERT_EQ(ReadEepromWords(kEeprom, 4, back, 6), 0);
  EXPECT_EQ(std::memcmp(back, bytes, 6), 0);
  EXPECT_EQ(driver.commands()[7].word, 0x0FFEu);
}

TEST_F(EepromWords, AnOddCountWritesZeroAsTheLastHighByte) {
  const unsigned char bytes[] = {0x01, 0x02, 0x03, 0xEE};  // 0xEE lies after the three bytes written
  ASSERT_EQ(WriteEepromWords(kEeprom, 0, bytes, 3), 0);
  EXPECT_EQ(Words(3), (std::vector<uint16_t>{0x0201, 0x0003, 0xFFFF}));
}

TEST_F(EepromWords, TheFirstFailingAccessEndsTheWriteWithItsResult) {
  driver.faults().refuseWriteAt = 2;
  const unsigned char bytes[8] = {1, 0, 2, 0, 3, 0, 4, 0};
  EXPECT_EQ(WriteEepromWords(kEeprom, 0, bytes, 8), static_cast<PhxResult>(simboard::kWordRefused));
  EXPECT_EQ(Words(4), (std::vector<uint16_t>{1, 2, 0xFFFF, 0xFFFF}));
  EXPECT_EQ(driver.commands().size(), 6u);  // nothing after the refusal
  EXPECT_EQ(WriteEepromWords(-1, 0, bytes, 8), static_cast<PhxResult>(simboard::kInvalidHandle));
  unsigned char back[2];
  EXPECT_EQ(ReadEepromWords(-1, 0, back, 2), static_cast<PhxResult>(simboard::kInvalidHandle));
}

TEST_F(EepromWords, CommitWritesHeaderAndDataThenReadsTheHeaderBack) {
  static EepromImage image;
  image.size = 5;
  std::memcpy(image.data, "a=1\0", 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(CommitImage(&image, kEeprom, 1), kCommitSaved);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Written 5 bytes into the EEPROM\nSaved into the EEPROM: OK\n");
  EXPECT_EQ(image.crc, simboard::ImageCrc32(image.data, 5));
  const std::vector<uint8_t> expected = simboard::MakeImage({"a=1"});
  EXPECT_EQ(simboard::UserLayerImage(store), expected);
  EXPECT_EQ(store.Read(0x2006), 0x0000);  // 13 bytes: the last word's high byte is 0

  // 7 words of two requests, then two header reads of two words each.
  const auto& commands = driver.commands();
  ASSERT_EQ(commands.size(), 14u + 8u);
  const uint32_t reads[] = {0x20000FFD, 0x0FFE, 0x20010FFD, 0x0FFE, 0x20020FFD, 0x0FFE, 0x20030FFD, 0x0FFE};
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(commands[14 + i].word, reads[i]);
}

TEST_F(EepromWords, AHeaderThatReadsBackDifferentIsAFailedWriteEvenQuietly) {
  static EepromImage image;
  image.size = 1;
  image.data[0] = 0;
  driver.faults().verifyDiffers = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(CommitImage(&image, kEeprom, 0), kCommitVerifyFailed);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "*** ERROR: EEPROM Save: Failed to write the data, Verify Read failed\n");
}

using EepromWordsDeathTest = EepromWords;

TEST_F(EepromWordsDeathTest, AFailingAccessDuringCommitEndsTheRun) {
  static EepromImage image;
  image.size = 1;
  image.data[0] = 0;
  driver.faults().refuseWriteAt = 1;
  EXPECT_EXIT(CommitImage(&image, kEeprom, 0), ::testing::ExitedWithCode(1), "");
}

TEST_F(EepromWords, FindEepromDeviceTakesTheFirstDeviceOfTypes69To72) {
  long device = 0;
  EXPECT_EQ(FindEepromDevice(&device), 0);
  EXPECT_EQ(device, 0x120);
}

TEST(FindEepromDevice, OrderAndAbsence) {
  simboard::MemoryWordStore store;
  simboard::SimBoardDriver driver(store, {{3, 0x10, false}, {72, 0x22, true}, {69, 0x33, false}}, {});
  SimulatedDriverSeam seam(driver);
  ASSERT_EQ(PhxDrvConnectLib(), 0);
  long device = 0;
  EXPECT_EQ(FindEepromDevice(&device), 0);
  EXPECT_EQ(device, 0x22);  // enumeration order, not type order
  PhxDrvReleaseLib();

  simboard::SimBoardDriver none(store, {{3, 0x10, false}, {68, 0x11, false}, {73, 0x12, false}}, {});
  SimulatedDriverSeam noneSeam(none);
  ASSERT_EQ(PhxDrvConnectLib(), 0);
  EXPECT_EQ(FindEepromDevice(&device), 1);
  EXPECT_EQ(device, -1);
  PhxDrvReleaseLib();
}

}  // namespace
