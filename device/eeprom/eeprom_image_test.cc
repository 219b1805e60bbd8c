#include "device/eeprom/eeprom_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/boarddrv/eeprom_store.h"

namespace {

// Layer files written by the simulated board's own image builder.
class LayerFile {
 public:
  explicit LayerFile(const std::vector<uint8_t>& bytes) {
    char name[] = "/tmp/eeprom_image_testXXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    FILE* file = fdopen(fd, "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  ~LayerFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

std::vector<std::string> Entries(const EepromImage& image) {
  std::vector<std::string> entries;
  for (unsigned long p = 0; HasEntryAt(image, p); p = NextEntry(image, p)) entries.push_back(EntryText(image, p));
  return entries;
}

PhxResult Read(const std::vector<uint8_t>& bytes, EepromImage* image, std::string* err = nullptr, int verbose = 0,
               std::string* out = nullptr) {
  LayerFile file(bytes);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const PhxResult result = ReadImage(file.path(), verbose, image);
  const std::string printed = testing::internal::GetCapturedStdout();
  const std::string errors = testing::internal::GetCapturedStderr();
  if (out) *out = printed;
  if (err) *err = errors;
  return result;
}

EepromImage* NewImage() {
  static EepromImage image;
  std::memset(&image, 0xAB, sizeof image);
  return &image;
}

TEST(ReadImage, GoodImageWithVerboseLines) {
  EepromImage* image = NewImage();
  const std::vector<uint8_t> bytes = simboard::MakeImage({"a=1", "bb=22"});
  std::string out;
  std::string err;
  ASSERT_EQ(Read(bytes, image, &err, 1, &out), 0);
  EXPECT_EQ(image->size, 11u);
  EXPECT_EQ(image->crc, simboard::ImageCrc32(bytes.data() + 8, 11));  // the board's own CRC
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"a=1", "bb=22"}));
  char expected[200];
  std::snprintf(expected, sizeof expected, "EEPROM data size: 11\nEEPROM CRC: 0x%lx\nRead 11 bytes from EEPROM\nCRC ok\n",
                image->crc);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(err, "");
}

TEST(ReadImage, EveryReadingFailureIsOneResult) {
  EepromImage* image = NewImage();
  std::vector<uint8_t> bytes = simboard::MakeImage({"a=1"});
  std::string err;

  EXPECT_EQ(ReadImage("/nonexistent/userspace", 0, image), PHX_ERROR_CALL_FAILED);
  EXPECT_EQ(Read(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3), image, &err), PHX_ERROR_CALL_FAILED);
  EXPECT_EQ(Read(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 7), image, &err), PHX_ERROR_CALL_FAILED);
  EXPECT_EQ(Read(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), image, &err), PHX_ERROR_CALL_FAILED);
  EXPECT_EQ(err, "");

  bytes[5] ^= 0x40;  // the CRC field no longer matches readable entries
  EXPECT_EQ(Read(bytes, image, &err), PHX_ERROR_CALL_FAILED);
  EXPECT_EQ(err, "CRC Error!\n");
}

TEST(ReadImage, SizeFieldBeyondTheLimitIsRefusedAndZeroIsAnEmptyStore) {
  EepromImage* image = NewImage();
  std::vector<uint8_t> big(8 + 16385, 0);
  big[0] = 0x01;
  big[1] = 0x40;  // 16385
  std::string err;
  EXPECT_EQ(Read(big, image, &err), PHX_ERROR_CALL_FAILED);
  std::vector<uint8_t> erased(16, 0xFF);  // an erased EEPROM: size 0xFFFFFFFF
  EXPECT_EQ(Read(erased, image, &err), PHX_ERROR_CALL_FAILED);

  const std::vector<uint8_t> limit = simboard::MakeImage({std::string(16382, 'x')});
  ASSERT_EQ(limit.size(), 8u + 16384u);
  EXPECT_EQ(Read(limit, image, &err), 0);

  const std::vector<uint8_t> zero = {0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
  ASSERT_EQ(Read(zero, image, &err), 0);
  EXPECT_TRUE(Entries(*image).empty());
  EXPECT_EQ(UpdateImage(image, "n", "v"), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"n=v"}));
  EXPECT_EQ(image->size, 5u);
}

TEST(ReadImage, AnUnterminatedLastEntryEndsAtTheData) {
  EepromImage* image = NewImage();
  std::vector<uint8_t> data = {'a', '=', '1', 0, 'b', '=', '2'};  // no final NUL, CRC still right
  std::vector<uint8_t> bytes = {7, 0, 0, 0};
  const uint32_t crc = simboard::ImageCrc32(data.data(), 7);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  ASSERT_EQ(Read(bytes, image), 0);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"a=1", "b="}));
}

// A store whose last entry's NUL is the final one (no empty end mark): updates stay inside the
// data and leave a well-formed store.
std::vector<uint8_t> WithoutEndMark() {
  const std::vector<uint8_t> data = {'a', '=', '1', 0, 'b', '=', '2', 0};
  std::vector<uint8_t> bytes = {8, 0, 0, 0};
  const uint32_t crc = simboard::ImageCrc32(data.data(), data.size());
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

TEST(ReadImage, AStoreWithoutItsEndMarkIsUpdatedSoundly) {
  EepromImage* image = NewImage();
  ASSERT_EQ(Read(WithoutEndMark(), image), 0);
  EXPECT_EQ(UpdateImage(image, "b", "3"), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"a=1", "b=3"}));
  EXPECT_EQ(image->size, 9u);
  ASSERT_EQ(Read(WithoutEndMark(), image), 0);
  EXPECT_EQ(UpdateImage(image, "c", "4"), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"a=1", "b=2", "c=4"}));
  EXPECT_EQ(image->size, 13u);
  ASSERT_EQ(Read(WithoutEndMark(), image), 0);
  EXPECT_EQ(UpdateImage(image, "b", ""), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"a=1"}));
  EXPECT_EQ(image->size, 5u);
  EXPECT_EQ(image->data[4], 0);
}

TEST(SplitEntry, NamesValuesAndCuts) {
  char name[64];
  char value[1024];
  SplitEntry("ipaddr=10.0.0.1", name, value);
  EXPECT_STREQ(name, "ipaddr");
  EXPECT_STREQ(value, "10.0.0.1");
  SplitEntry("bootargs=a=b", name, value);
  EXPECT_STREQ(name, "bootargs");
  EXPECT_STREQ(value, "a=b");
  SplitEntry("noequals", name, value);
  EXPECT_STREQ(name, "noequals");
  EXPECT_STREQ(value, "");
  SplitEntry("", name, value);
  EXPECT_STREQ(name, "");

  const std::string longName(70, 'n');
  SplitEntry((longName + "=v").c_str(), name, value);
  EXPECT_EQ(std::string(name), std::string(63, 'n'));
  EXPECT_STREQ(value, "v");
  SplitEntry(longName.c_str(), name, value);
  EXPECT_STREQ(value, "");

  const std::string longValue(1500, 'v');
  SplitEntry(("x=" + longValue).c_str(), name, value);
  EXPECT_EQ(std::string(value), std::string(1023, 'v'));
}

class Update : public ::testing::Test {
 protected:
  void Load(const std::vector<std::string>& entries) { ASSERT_EQ(Read(simboard::MakeImage(entries), image), 0); }
  EepromImage* image = NewImage();
};

TEST_F(Update, ChangedVariablesMoveToTheEndAndNewOnesAreAppended) {
  Load({"a=1", "b=2", "c=3"});
  EXPECT_EQ(UpdateImage(image, "a", "10"), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"b=2", "c=3", "a=10"}));
  EXPECT_EQ(image->size, 14u);
  EXPECT_EQ(image->data[13], 0);
  EXPECT_EQ(image->data[12], 0);
  EXPECT_EQ(UpdateImage(image, "b", "2"), kImageChanged);  // same value: moved all the same
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"c=3", "a=10", "b=2"}));
  EXPECT_EQ(UpdateImage(image, "d", "4"), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"c=3", "a=10", "b=2", "d=4"}));
  EXPECT_EQ(image->size, 18u);
}

TEST_F(Update, DeletingClosesTheGapAndAMissingVariableChangesNothing) {
  Load({"a=1", "bb=2", "c=3"});
  EXPECT_EQ(UpdateImage(image, "bb", ""), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"a=1", "c=3"}));
  EXPECT_EQ(image->size, 9u);
  EXPECT_EQ(UpdateImage(image, "zz", ""), kImageUnchanged);
  EXPECT_EQ(image->size, 9u);
  EXPECT_EQ(UpdateImage(image, "c", ""), kImageChanged);
  EXPECT_EQ(UpdateImage(image, "a", ""), kImageChanged);
  EXPECT_EQ(image->size, 1u);
  EXPECT_EQ(image->data[0], 0);
  EXPECT_EQ(UpdateImage(image, "name", "value"), kImageChanged);
  EXPECT_EQ(image->size, 4u + 5u + 3u);  // len(name) + len(value) + 3
}

TEST_F(Update, DuplicatesLoseTheirFirstEntry) {
  Load({"x=old", "y=1", "x=older"});
  EXPECT_EQ(UpdateImage(image, "x", "new"), kImageChanged);
  EXPECT_EQ(Entries(*image), (std::vector<std::string>{"y=1", "x=older", "x=new"}));
}

TEST_F(Update, NothingChangesWhenTheDataWouldExceedTheLimit) {
  Load({std::string(16370, 'x'), "a=1"});
  EXPECT_EQ(image->size, 16376u);
  const std::vector<uint8_t> before(image->data, image->data + image->size);
  EXPECT_EQ(UpdateImage(image, "b", "123456"), kImageTooLarge);  // 16376 + 9 > 16384
  EXPECT_EQ(UpdateImage(image, "a", "1234567890"), kImageTooLarge);  // 16376 - 3 + 12 > 16384
  EXPECT_EQ(image->size, 16376u);
  EXPECT_EQ(std::vector<uint8_t>(image->data, image->data + image->size), before);
  EXPECT_EQ(UpdateImage(image, "b", "12345"), kImageChanged);  // exactly 16384
  EXPECT_EQ(image->size, 16384u);
}

TEST(BuildDefaultImage, TheThirtySevenEntriesInOrder) {
  EepromImage* image = NewImage();
  BuildDefaultImage(image);
  const std::vector<std::string> entries = Entries(*image);
  ASSERT_EQ(entries.size(), 37u);
  EXPECT_EQ(entries.front(), "stdin=serial");
  EXPECT_EQ(entries[11],
            "updatekernel=tftpboot 0x80700000  $bootfile; nand erase $kernel_offset $kernel_size; nand write "
            "0x$fileaddr $kernel_offset $kernel_size;");
  EXPECT_EQ(entries[34].rfind("ntpserver=", 0), 0u);
  EXPECT_GT(entries[34].size(), std::strlen("ntpserver="));
  EXPECT_EQ(entries.back(), "bootcmd=run bootmmc");
  unsigned long expectedSize = 1;
  for (const std::string& entry : entries) expectedSize += entry.size() + 1;
  EXPECT_EQ(image->size, expectedSize);
  EXPECT_EQ(image->data[image->size - 1], 0);
  EXPECT_EQ(image->data[image->size - 2], 0);
  EXPECT_LT(image->size, 1900u);
}

}  // namespace
