#include "device/nand/flash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/testing/test_tool_io.h"

namespace {

using Strings = std::vector<std::string>;

TEST(MtdSize, IsTheDeviceSizeOrZero) {
  TestToolIo t;
  t.storage.AddMtd("/dev/mtd0", 131072, 16384);
  t.storage.AddFile("/plain", std::vector<unsigned char>(100));
  EXPECT_EQ(131072u, MtdSize(t.io, "/dev/mtd0"));
  EXPECT_EQ(0u, MtdSize(t.io, "/plain"));
  EXPECT_EQ(0u, MtdSize(t.io, "/missing"));
  EXPECT_EQ(nullptr, t.storage.Find("/missing"));  // asking for the size creates nothing
  t.storage.AddMtd("/dev/mtd1", 65536, 16384).writable = false;
  EXPECT_EQ(0u, MtdSize(t.io, "/dev/mtd1"));  // needs read-write access
  t.storage.AddMtd("/dev/mtd2", 65536, 16384).failGetInfo = true;
  EXPECT_EQ(0u, MtdSize(t.io, "/dev/mtd2"));
  EXPECT_EQ(0, t.storage.OpenDescriptors());
  EXPECT_EQ(Strings{}, t.storage.violations());
}

TEST(FlashWrite, ErasesInWholeEraseBlocksThenWritesOnce) {
  TestToolIo t;
  SimulatedStorage::Node& node = t.storage.AddMtd("/dev/mtd0", 131072, 16384);
  std::vector<unsigned char> data(40000, 0x11);
  // The erase length is rounded down to whole erase blocks: 40000 -> 32768.
  ASSERT_TRUE(FlashWrite(t.io, "/dev/mtd0", data.data(), data.size()));
  ASSERT_EQ(1u, node.erases.size());
  EXPECT_EQ(std::make_pair(0u, 32768u), node.erases[0]);
  EXPECT_EQ(std::vector<unsigned char>(data),
            std::vector<unsigned char>(node.bytes.begin(), node.bytes.begin() + 40000));
  const Strings events(t.storage.events().begin(), t.storage.events().end());
  EXPECT_EQ((Strings{"open /dev/mtd0", "getinfo", "erase 0 32768", "write 40000", "close"}), events);
  EXPECT_EQ("", t.Err());
  EXPECT_EQ(Strings{}, t.storage.violations());
}

TEST(FlashWrite, PlainFileIsWrittenWithoutEraseAndCreatedWhenMissing) {
  TestToolIo t;
  std::vector<unsigned char> data(100, 0x22);
  ASSERT_TRUE(FlashWrite(t.io, "/new", data.data(), data.size()));
  EXPECT_EQ(data, t.storage.Find("/new")->bytes);
  EXPECT_TRUE(t.storage.Find("/new")->erases.empty());
}

TEST(FlashWrite, ReportsEachFailureWithItsOwnMessage) {
  std::vector<unsigned char> data(16384, 0x33);
  {
    TestToolIo t;
    t.storage.allowCreate = false;
    EXPECT_FALSE(FlashWrite(t.io, "/ro/env", data.data(), data.size()));
    EXPECT_EQ("Error: cannot open </ro/env>\n", t.Err());
  }
  {
    TestToolIo t;
    SimulatedStorage::Node& node = t.storage.AddMtd("/dev/mtd0", 65536, 16384);
    node.bytes.assign(65536, 0x44);
    node.failErase = true;
    EXPECT_FALSE(FlashWrite(t.io, "/dev/mtd0", data.data(), data.size()));
    EXPECT_EQ("Error: cannot erase flash </dev/mtd0>\n", t.Err());
    EXPECT_EQ(0, node.writes);
    EXPECT_EQ(std::vector<unsigned char>(65536, 0x44), node.bytes);
    EXPECT_EQ(0, t.storage.OpenDescriptors());
  }
  {
    TestToolIo t;
    t.storage.AddMtd("/dev/mtd0", 65536, 16384).shortWriteBy = 100;
    EXPECT_FALSE(FlashWrite(t.io, "/dev/mtd0", data.data(), data.size()));
    EXPECT_EQ("Error: need to write 16384 and written 16284 bytes\n", t.Err());
    EXPECT_EQ(0, t.storage.OpenDescriptors());
  }
  {
    // A block larger than the device: the device takes what fits, and that is a short write.
    TestToolIo t;
    t.storage.AddMtd("/dev/mtd0", 16384, 16384);
    std::vector<unsigned char> big(20000, 0x55);
    EXPECT_FALSE(FlashWrite(t.io, "/dev/mtd0", big.data(), big.size()));
    EXPECT_EQ("Error: need to write 20000 and written 16384 bytes\n", t.Err());
  }
}

TEST(EnvLock, HoldsTheLockUntilReleased) {
  TestToolIo t;
  t.storage.AddFile("/env", {});
  int fd = EnvLock(t.io, "/env", true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(1, t.storage.OpenDescriptors());
  EnvUnlock(t.io, fd);
  EXPECT_EQ(0, t.storage.OpenDescriptors());
  EXPECT_EQ((Strings{"open /env", "lock-ex", "unlock", "close"}),
            Strings(t.storage.events().begin(), t.storage.events().end()));
  EXPECT_EQ(-1, EnvLock(t.io, "/missing", false));  // nothing to guard
  EXPECT_EQ(nullptr, t.storage.Find("/missing"));
  t.storage.Find("/env")->failLock = true;
  EXPECT_EQ(-2, EnvLock(t.io, "/env", false));
  EXPECT_EQ("Error: cannot lock </env>: No locks available\n", t.Err());
  EXPECT_EQ(0, t.storage.OpenDescriptors());
}

}  // namespace
