#include "sim/state_dump.h"

#include <gtest/gtest.h>

#include "sim/images.h"
#include "sim/uboot_env.h"

namespace sim {
namespace {

TEST(StateDump, TellsWhichSlotsHoldTheUploadedKernel) {
  BoardState board;
  InstallBootLoaders(board.nand);
  std::vector<uint8_t> kernel = MakeUImage(5000, "Linux test");
  board.ram[kRamLoadAddress] = kernel;
  Environment env;
  env.Set("nand_kern_offs", "0x200000 0x600000 0xA00000");
  env.Set("kernel_size", "0x400000");
  board.nand.Program(kUbootEnvOffset, env.ToBlock());
  board.nand.Program(0x200000, kernel);
  std::vector<uint8_t> damaged = kernel;
  damaged[4000] ^= 1;
  board.nand.Program(0x600000, damaged);

  std::string dump = DescribeBoardState(board);
  EXPECT_NE(dump.find("nand.ubl: valid \"UBL 1.50 sim\", 14336 bytes\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("nand.env: saved, 2 variables\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("nand.kernel.0: 0x00200000 uImage 5064 bytes, equals the uploaded kernel\n"), std::string::npos)
      << dump;
  EXPECT_NE(dump.find("nand.kernel.1: 0x00600000 no valid uImage (bad data CRC)\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("nand.kernel.2: 0x00A00000 erased\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("nand.kernel.equal: 1/3\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("env.kernel_size=0x400000\n"), std::string::npos) << dump;

  // A damaged environment block is not read.
  board.nand.Program(kUbootEnvOffset + 8, {0});
  std::map<std::string, std::string> values;
  EXPECT_FALSE(ReadSavedEnvironment(board.nand, &values));
  EXPECT_NE(DescribeBoardState(board).find("nand.env: bad CRC\n"), std::string::npos);
}

}  // namespace
}  // namespace sim
