#include "device/nand/env_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/common/env_crc32.h"
#include "device/testing/test_tool_io.h"

namespace {

using Strings = std::vector<std::string>;
using namespace std::string_literals;

Strings Parse(const std::vector<unsigned char>& block, EnvParseResult expected = kEnvParsed) {
  EnvVar head;
  EnvVarClear(&head);
  EXPECT_EQ(expected, EnvParse(block.data(), block.size(), &head));
  Strings entries = Entries(&head);
  EnvVarDestroy(&head);
  return entries;
}

// A list made of "name=value" texts, split at the first '='.
class List {
 public:
  explicit List(const Strings& entries) {
    EnvVarClear(&head);
    for (size_t i = 0; i < entries.size(); ++i) {
      EnvVar* r = i == 0 ? &head : EnvVarNew();
      size_t eq = entries[i].find('=');
      std::string name = entries[i].substr(0, eq), value = entries[i].substr(eq + 1);
      EnvVarAssign(r, name.c_str(), value.c_str());
      if (i > 0) EnvVarAppend(&head, r);
    }
  }
  ~List() { EnvVarDestroy(&head); }
  EnvVar head;
};

TEST(EnvParse, EmptyErasedAndTinyBlocksLoadWithoutVariables) {
  EXPECT_EQ(Strings{}, Parse(MakeBlock(""s, 64)));
  EXPECT_EQ(Strings{}, Parse(std::vector<unsigned char>(4096, 0xFF)));  // erased: no NUL anywhere
  for (size_t size = 0; size < 5; ++size) {
    // Exactly sized heap buffers: the sanitizer build catches any read beyond them.
    EXPECT_EQ(Strings{}, Parse(std::vector<unsigned char>(size, 0x41))) << size;
  }
}

TEST(EnvParse, SplitsAtTheFirstSeparatorThatIsNotTheEntrysFirstByte) {
  EXPECT_EQ((Strings{"a=1", "d="}), Parse(MakeBlock("a=1\0b\0=c\0d=\0\0"s, 64)));
  EXPECT_EQ((Strings{"==x", "k=v=w"}), Parse(MakeBlock("==x\0k=v=w\0\0"s, 64)));
  // Bytes after the empty entry are ignored, even when they look like entries.
  EXPECT_EQ((Strings{"a=1"}), Parse(MakeBlock("a=1\0\0b=2\0\0"s, 64)));
  // Duplicates stay, in block order.
  EXPECT_EQ((Strings{"a=1", "a=2"}), Parse(MakeBlock("a=1\0a=2\0\0"s, 64)));
  // An entry whose NUL is missing at the end of the block is dropped.
  EXPECT_EQ((Strings{"a=1"}), Parse(MakeBlock("a=1\0b=22"s, 12)));
  EXPECT_EQ((Strings{"a=1", "b=2"}), Parse(MakeBlock("a=1\0b=2\0"s, 12)));
}

TEST(EnvParse, RefusesNamesLongerThanTheWorkingBuffer) {
  const std::string name1023(1023, 'n');
  EXPECT_EQ((Strings{name1023 + "=v"}), Parse(MakeBlock(name1023 + "=v\0\0"s, 2048)));
  // Refused whole: a cut name would name a different variable, a skipped one would be lost on store.
  Parse(MakeBlock("a=1\0"s + name1023 + "n=v\0\0"s, 2048), kEnvNameTooLong);
  // A long value is not limited on load.
  const std::string value(5000, 'v');
  EXPECT_EQ((Strings{"a=" + value}), Parse(MakeBlock("a=" + value + "\0\0"s, 8192)));
}

TEST(EnvFormat, FillsTheBlockUpToItsSecondToLastByte) {
  // Block of 16: 4 header bytes, "ab=cdefghi\0" is 11 bytes, its NUL at offset 14; offset 15 stays 0.
  std::vector<unsigned char> block(16, 0xEE);
  List fits({"ab=cdefghi"});
  ASSERT_EQ(kEnvFormatted, EnvFormat(&fits.head, block.data(), block.size(), nullptr));
  EXPECT_EQ("ab=cdefghi\0\0"s, std::string(block.begin() + 4, block.end()));
  const uint32_t crc = EnvCrc32(block.data() + 4, 12, 0, 0);
  EXPECT_EQ((std::vector<unsigned char>{static_cast<unsigned char>(crc), static_cast<unsigned char>(crc >> 8),
                                        static_cast<unsigned char>(crc >> 16),
                                        static_cast<unsigned char>(crc >> 24)}),
            std::vector<unsigned char>(block.begin(), block.begin() + 4));
  List tooBig({"ab=cdefghij"});
  EXPECT_EQ(kEnvDoesNotFit, EnvFormat(&tooBig.head, block.data(), block.size(), nullptr));
  EXPECT_EQ(17u, EnvBytesNeeded(&tooBig.head));
}

TEST(EnvFormat, RefusesEmptyListsAndOverlongEntries) {
  std::vector<unsigned char> block(4096);
  EnvVar empty;
  EnvVarClear(&empty);
  EXPECT_EQ(kEnvNothingToStore, EnvFormat(&empty, block.data(), block.size(), nullptr));
  EXPECT_EQ(kEnvNothingToStore, EnvFormat(nullptr, block.data(), block.size(), nullptr));
  List limit({"n=" + std::string(1021, 'v')});  // 1023 characters
  EXPECT_EQ(kEnvFormatted, EnvFormat(&limit.head, block.data(), block.size(), nullptr));
  List over({"a=1", "n=" + std::string(1022, 'v')});
  const EnvVar* tooLong = nullptr;
  EXPECT_EQ(kEnvEntryTooLong, EnvFormat(&over.head, block.data(), block.size(), &tooLong));
  EXPECT_EQ(over.head.next, tooLong);
}

TEST(EnvFormat, RoundTripsThroughParse) {
  List list({"bootdelay=3", "bootargs=console=ttyS0,115200 root=/dev/mmcblk0p1 rw", "empty=", "=weird"});
  std::vector<unsigned char> block(512);
  ASSERT_EQ(kEnvFormatted, EnvFormat(&list.head, block.data(), block.size(), nullptr));
  // "=weird" has no name and is skipped on load, as U-Boot does.
  EXPECT_EQ((Strings{"bootdelay=3", "bootargs=console=ttyS0,115200 root=/dev/mmcblk0p1 rw", "empty="}),
            Parse(block));
}

TEST(EnvLoadStore, PlainFileIsWrittenAs16KiBAtOffsetZeroAndReadWhole) {
  TestToolIo t;
  std::vector<unsigned char> longer = MakeBlock("old=1\0\0"s, 20000, 0x5A);
  t.storage.AddFile("/env", longer);
  List list({"a=1", "b=2"});
  ASSERT_TRUE(EnvStore(t.io, &list.head, "/env"));
  const auto& bytes = t.storage.Find("/env")->bytes;
  ASSERT_EQ(20000u, bytes.size());
  EXPECT_EQ("a=1\0b=2\0\0"s, std::string(bytes.begin() + 4, bytes.begin() + 13));
  EXPECT_EQ(0, bytes[16383]);
  EXPECT_EQ(std::vector<unsigned char>(longer.begin() + 16384, longer.end()),
            std::vector<unsigned char>(bytes.begin() + 16384, bytes.end()));
  EXPECT_EQ(1, t.storage.Find("/env")->writes);
  EXPECT_TRUE(t.storage.Find("/env")->erases.empty());

  EnvVar head;
  EnvVarClear(&head);
  ASSERT_TRUE(EnvLoad(t.io, &head, "/env"));
  EXPECT_EQ((Strings{"a=1", "b=2"}), Entries(&head));
  EnvVarDestroy(&head);
  EXPECT_NE(t.storage.events().end(),
            std::find(t.storage.events().begin(), t.storage.events().end(), "read 20000"));
  EXPECT_EQ(0, t.storage.OpenDescriptors());
  EXPECT_EQ(Strings{}, t.storage.violations());
}

TEST(EnvLoadStore, NewFileIsCreatedWith16KiB) {
  TestToolIo t;
  List list({"a=1"});
  ASSERT_TRUE(EnvStore(t.io, &list.head, "/new"));
  ASSERT_NE(nullptr, t.storage.Find("/new"));
  EXPECT_EQ(16384u, t.storage.Find("/new")->bytes.size());
}

TEST(EnvLoadStore, MtdDeviceIsErasedWholeBeforeOneWrite) {
  TestToolIo t;
  t.storage.AddMtd("/dev/mtd0", 131072, 16384);
  List list({"a=1"});
  ASSERT_TRUE(EnvStore(t.io, &list.head, "/dev/mtd0"));
  const SimulatedStorage::Node& node = *t.storage.Find("/dev/mtd0");
  ASSERT_EQ(1u, node.erases.size());
  EXPECT_EQ(std::make_pair(0u, 131072u), node.erases[0]);
  EXPECT_EQ(1, node.writes);
  EXPECT_EQ(131072u, node.bytes.size());
  EXPECT_EQ(0, node.bytes[131071]);  // the whole device is one block
  const uint32_t crc = EnvCrc32(node.bytes.data() + 4, 131068, 0, 0);
  EXPECT_EQ(crc, node.bytes[0] | node.bytes[1] << 8 | node.bytes[2] << 16 | uint32_t{node.bytes[3]} << 24);

  // Storing again erases again: NAND is programmed only onto erased pages.
  List second({"a=2"});
  ASSERT_TRUE(EnvStore(t.io, &second.head, "/dev/mtd0"));
  EXPECT_EQ(2u, node.erases.size());
  EXPECT_EQ(Strings{}, t.storage.violations());

  EnvVar head;
  EnvVarClear(&head);
  ASSERT_TRUE(EnvLoad(t.io, &head, "/dev/mtd0"));
  EXPECT_EQ((Strings{"a=2"}), Entries(&head));
  EnvVarDestroy(&head);
  EXPECT_EQ(0, t.storage.OpenDescriptors());
}

TEST(EnvLoadStore, ListThatDoesNotFitLeavesTheDeviceUntouched) {
  TestToolIo t;
  SimulatedStorage::Node& node = t.storage.AddMtd("/dev/mtd0", 16384, 16384);
  node.bytes = MakeBlock("keep=1\0\0"s, 16384);
  const auto before = node.bytes;
  Strings many;
  for (int i = 0; i < 20; ++i) many.push_back("v" + std::to_string(i) + "=" + std::string(1000, 'x'));
  List list(many);
  EXPECT_FALSE(EnvStore(t.io, &list.head, "/dev/mtd0"));
  EXPECT_TRUE(node.erases.empty());
  EXPECT_EQ(0, node.writes);
  EXPECT_EQ(before, node.bytes);
  EXPECT_EQ("Error: cannot fit the variables (20095 bytes) into the block of 16384 bytes </dev/mtd0>\n",
            t.Err());
}

TEST(EnvLoadStore, LoadFailures) {
  TestToolIo t;
  EnvVar head;
  EnvVarClear(&head);
  EXPECT_FALSE(EnvLoad(t.io, &head, "/missing"));
  t.storage.AddFile("/env", MakeBlock("a=1\0\0"s, 64));
  ASSERT_TRUE(EnvLoad(t.io, &head, "/env"));
  EXPECT_FALSE(EnvLoad(t.io, &head, "/env"));  // the head record must be empty
  EnvVarDestroy(&head);
  t.storage.Find("/env")->failOpen = true;
  EXPECT_FALSE(EnvLoad(t.io, &head, "/env"));
  t.storage.AddFile("/long", MakeBlock(std::string(1024, 'n') + "=v\0\0"s, 2048));
  EXPECT_FALSE(EnvLoad(t.io, &head, "/long"));
  EXPECT_EQ("Error: cannot load </long>: a variable name is longer than 1023 characters\n", t.Err());
  EXPECT_EQ(nullptr, head.name);
  EXPECT_EQ(0, t.storage.OpenDescriptors());
}

}  // namespace
