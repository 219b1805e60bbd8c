#include "host/link/image_file.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "host/link/boot_image_test_files.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST(ImageFile, BytesAreTheFileExactly) {
  ImageFolder folder;
  const auto image = PatternBytes(14336, 1);
  folder.Write("ubl_DM6446_NAND.bin", image);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(LoadImageBytes("ubl_DM6446_NAND.bin", &bytes));
  EXPECT_EQ(bytes, image);
}

TEST(ImageFile, WordsTakeTheFirstByteAsLeastSignificantAndPadWithZeros) {
  ImageFolder folder;
  folder.Write("sft_DM6446_NAND.bin", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  std::vector<uint32_t> words;
  uint32_t length = 0;
  ASSERT_TRUE(LoadImageWords("sft_DM6446_NAND.bin", &words, &length));
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(words, (std::vector<uint32_t>{0x04030201, 0x08070605, 0x00000A09}));
  EXPECT_EQ(ImageWords({0xFF}), std::vector<uint32_t>{0x000000FF});
  EXPECT_EQ(ImageWords({1, 2, 3, 4, 5, 6, 7, 8}).size(), 2u);
}

TEST(ImageFile, MissingFileIsReportedByName) {
  ImageFolder folder;
  std::vector<uint8_t> bytes{1};
  CaptureStdout();
  EXPECT_FALSE(LoadImageBytes("uboot.large.bin", &bytes));
  EXPECT_EQ(GetCapturedStdout(), "Can't open file uboot.large.bin\n");
  EXPECT_TRUE(bytes.empty());
}

TEST(ImageFile, EmptyFileIsRefusedByName) {
  ImageFolder folder;
  folder.Write("sft_DM6446_NAND.bin", {});
  std::vector<uint32_t> words;
  uint32_t length = 7;
  CaptureStdout();
  EXPECT_FALSE(LoadImageWords("sft_DM6446_NAND.bin", &words, &length));
  EXPECT_EQ(GetCapturedStdout(), "Error: image file sft_DM6446_NAND.bin is empty.\n");
  EXPECT_TRUE(words.empty());
  EXPECT_EQ(length, 0u);
}

// A file that delivers fewer bytes than its length said (it shrank, or the read failed) must
// not turn into zeros sent as the image.
TEST(ImageFile, ShortReadIsAFailureNotZeros) {
  ImageFolder folder;
  folder.Write("uboot.large.bin", PatternBytes(10, 2));
  std::FILE* file = std::fopen("uboot.large.bin", "rb");
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> bytes;
  CaptureStdout();
  const bool read = ReadImageBytes(file, "uboot.large.bin", 20, &bytes);
  std::fclose(file);
  EXPECT_EQ(GetCapturedStdout(), "Error: cannot read image file uboot.large.bin (10 of 20 bytes).\n");
  EXPECT_FALSE(read);
  EXPECT_TRUE(bytes.empty());
}

#ifndef _WIN32
// A folder in the image's place opens on Linux but has no length a read can deliver.
TEST(ImageFile, FolderInPlaceOfTheImageIsRefused) {
  ImageFolder folder;
  std::filesystem::create_directory("uboot.large.bin");
  std::vector<uint8_t> bytes;
  CaptureStdout();
  const bool loaded = LoadImageBytes("uboot.large.bin", &bytes);
  const std::string said = GetCapturedStdout();
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(said.rfind("Error: cannot read image file uboot.large.bin", 0), 0u) << said;
}
#endif

}  // namespace
