#include <gtest/gtest.h>

#include <string>

#include "sim/faults.h"
#include "sim/firmware.h"
#include "sim/state_file.h"
#include "host/testing/temp_path.h"

namespace sim {
namespace {

TEST(Nand, ProgramClearsBitsOnlyAndEraseSetsThemAgain) {
  Nand nand;
  EXPECT_TRUE(nand.IsErased(0, kNandSize));
  ASSERT_TRUE(nand.Program(kNandEraseBlock - 2, {0x0F, 0xF0, 0x3C}));  // across a block boundary
  ASSERT_TRUE(nand.Program(kNandEraseBlock - 2, {0xF1, 0xFF, 0xFF}));
  EXPECT_EQ(nand.Read(kNandEraseBlock - 3, 5), (std::vector<uint8_t>{0xFF, 0x01, 0xF0, 0x3C, 0xFF}));
  EXPECT_EQ(nand.Blocks().size(), 2u);

  EXPECT_FALSE(nand.Erase(1, kNandEraseBlock));  // not block-aligned
  ASSERT_TRUE(nand.Erase(kNandEraseBlock, 1));   // the whole second block
  EXPECT_EQ(nand.Read(kNandEraseBlock - 2, 3), (std::vector<uint8_t>{0x01, 0xF0, 0xFF}));
  EXPECT_TRUE(nand.Program(0, std::vector<uint8_t>(100, 0xFF)));  // all ones takes no memory
  EXPECT_EQ(nand.Blocks().size(), 1u);

  // A write's read-back: what is there, across blocks written and erased, and nothing else.
  EXPECT_TRUE(nand.Holds(kNandEraseBlock - 2, {0x01, 0xF0, 0xFF, 0xFF}));
  EXPECT_FALSE(nand.Holds(kNandEraseBlock - 2, {0x01, 0xF0, 0xFF, 0xFE}));  // in the erased block
  EXPECT_FALSE(nand.Holds(kNandEraseBlock - 2, {0x01, 0xF1}));              // in the written one
  EXPECT_TRUE(nand.Holds(3 * kNandEraseBlock, std::vector<uint8_t>(kNandEraseBlock, 0xFF)));

  // A whole block programmed at once, and a read into place across it and an erased one.
  ASSERT_TRUE(nand.Program(5 * kNandEraseBlock, std::vector<uint8_t>(kNandEraseBlock, 0x5A)));
  std::vector<uint8_t> into(6, 0);
  ASSERT_TRUE(nand.ReadInto(6 * kNandEraseBlock - 3, 6, into.data()));
  EXPECT_EQ(into, (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(nand.IsErased(6 * kNandEraseBlock - 1, 2));
  EXPECT_TRUE(nand.IsErased(6 * kNandEraseBlock, kNandSize));  // cut at the device's end
}

TEST(Nand, StaysInsideTheDevice) {
  Nand nand;
  EXPECT_FALSE(nand.Program(kNandSize - 1, {0, 0}));
  EXPECT_FALSE(nand.Erase(kNandSize, kNandEraseBlock));
  EXPECT_EQ(nand.Read(kNandSize - 2, 10).size(), 2u);
  EXPECT_TRUE(nand.Read(kNandSize, 10).empty());
  EXPECT_FALSE(nand.Holds(kNandSize - 1, {0xFF, 0xFF}));
  uint8_t two[2] = {1, 1};
  EXPECT_FALSE(nand.ReadInto(kNandSize - 1, 2, two));
  EXPECT_EQ(two[0], 1);
  EXPECT_EQ(Nand::EraseTime(3 * kNandEraseBlock), 6000u);
  EXPECT_EQ(Nand::ProgramTime(kNandPage + 1), 400u);
}

TEST(Faults, NamesAndValuesAreChecked) {
  Faults f;
  EXPECT_TRUE(SetFault(f, "silent"));
  EXPECT_TRUE(f.silent);
  EXPECT_TRUE(SetFault(f, "nak-block=3"));
  EXPECT_EQ(f.nakBlock, 3);
  EXPECT_TRUE(SetFault(f, "no-ack-block=-2"));
  EXPECT_EQ(f.noAckBlock, -2);
  EXPECT_TRUE(SetFault(f, "clones=9"));
  EXPECT_EQ(f.clonesWritten, 9);
  EXPECT_FALSE(SetFault(f, "clones=11"));
  EXPECT_FALSE(SetFault(f, "panic=0"));
  EXPECT_FALSE(SetFault(f, "silent=1"));
  EXPECT_FALSE(SetFault(f, "drop-faster"));
  EXPECT_FALSE(SetFault(f, "drop-faster=ten"));
  EXPECT_FALSE(SetFault(f, "no-such-fault"));
  EXPECT_TRUE(SetFault(f, "bad-slots=1,3,10"));
  EXPECT_EQ(f.badKernelSlots, 0x205u);
  EXPECT_FALSE(SetFault(f, "bad-slots=11"));
  EXPECT_FALSE(SetFault(f, "bad-slots=2,,3"));
  EXPECT_TRUE(SetFault(f, "tftp-other-file"));
  EXPECT_TRUE(f.tftpOtherFile);
  EXPECT_FALSE(SetFault(f, "tftp-no-server=1"));
  EXPECT_TRUE(SetFault(f, "double-char=7"));
  EXPECT_EQ(f.doubleCharacter, 7);
  EXPECT_TRUE(SetFault(f, "flaky-slots=2"));
  EXPECT_EQ(f.flakyKernelSlots, 0x2u);
  EXPECT_EQ(FaultNames().size(), 37u);
}

TEST(StateFile, KeepsNandRamAndMmcAcrossRuns) {
  std::string path = UniqueTempPath("sim_state_file_test");
  BoardState board;
  board.nand.Program(0x60010, {1, 2, 3});
  board.nand.Program(0x7FFFFFF, {0});
  board.ram[kRamLoadAddress] = {9, 8, 7};
  board.lastLoadSize = 3;
  board.resets = 4;
  board.mmc.files["/boot/uImage"] = {5, 5};
  std::string error;
  ASSERT_TRUE(SaveBoardState(board, path, &error)) << error;

  BoardState loaded;
  ASSERT_TRUE(LoadBoardState(&loaded, path, &error)) << error;
  EXPECT_EQ(loaded.nand.Blocks(), board.nand.Blocks());
  EXPECT_EQ(loaded.ram, board.ram);
  EXPECT_EQ(loaded.lastLoadSize, 3u);
  EXPECT_EQ(loaded.resets, 4u);
  EXPECT_EQ(loaded.mmc.files, board.mmc.files);

  // A file cut short or of another kind is refused and changes nothing.
  std::string cut = path + ".cut";
  {
    FILE* in = std::fopen(path.c_str(), "rb");
    FILE* out = std::fopen(cut.c_str(), "wb");
    char buffer[1000];
    size_t n = std::fread(buffer, 1, sizeof buffer, in);
    std::fwrite(buffer, 1, n, out);
    std::fclose(in);
    std::fclose(out);
  }
  BoardState untouched;
  EXPECT_FALSE(LoadBoardState(&untouched, cut, &error));
  EXPECT_NE(error.find("cut short"), std::string::npos);
  EXPECT_TRUE(untouched.nand.Blocks().empty());
  EXPECT_FALSE(LoadBoardState(&untouched, cut + ".missing", &error));
  std::remove(path.c_str());
  std::remove(cut.c_str());
}

}  // namespace
}  // namespace sim
