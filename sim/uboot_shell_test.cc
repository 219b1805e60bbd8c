// The U-Boot shell and its commands driven directly: quoting and expansion, scripts, the
// environment in NAND, and the host's real environment running its clone script.
#include "sim/uboot_shell.h"

#include <gtest/gtest.h>

#include "sim/firmware_io.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_memory.h"
#include "sim/uboot_test_support.h"

namespace sim {
namespace {

using testing::MakeUImage;
using testing::ScriptedUart;

class UBootShellTest : public ::testing::Test {
 protected:
  int Run(const std::string& script) { return shell.Run(script); }
  std::string Out() { return uart.output; }

  ScriptedUart uart;
  BoardState board;
  Environment env;
  UBootContext ctx{uart, board, env};
  Shell shell{ctx, UBootCommands()};
};

TEST_F(UBootShellTest, QuotingAndExpansion) {
  EXPECT_EQ(Run("setenv a 'x $b ${c};y'"), 0);
  EXPECT_EQ(env.Get("a"), "x $b ${c};y");  // single quotes keep everything
  Run("setenv b 1; setenv c \"two words\"");
  EXPECT_EQ(env.Get("c"), "two words");
  Run("setenv d \"[$b] [${c}] \\$b\"");
  EXPECT_EQ(env.Get("d"), "[1] [two words] $b");
  Run("setenv e $c");  // unquoted: split into two arguments, joined again by setenv
  EXPECT_EQ(env.Get("e"), "two words");
  Run("setenv e");
  EXPECT_FALSE(env.Get("e"));
  Run("echo $missing-${b}x");
  EXPECT_NE(Out().find("-1x\n"), std::string::npos);
}

TEST_F(UBootShellTest, ForSplitsUnquotedWordsOnly) {
  Run("setenv list 'a b  c'");
  Run("for v in ${list}; do echo \"<$v>\"; done");
  EXPECT_NE(Out().find("<a>\n<b>\n<c>\n"), std::string::npos);
  uart.output.clear();
  Run("for v in \"${list}\"; do echo \"<$v>\"; done");
  EXPECT_EQ(Out(), "<a b  c>\n");
  EXPECT_FALSE(env.Get("v"));  // the loop variable is the shell's, not the environment's
}

TEST_F(UBootShellTest, IfAndListsFollowStatus) {
  EXPECT_NE(Run("if printenv nothing; then echo yes; else echo no; fi"), 2);
  EXPECT_NE(Out().find("## Error: \"nothing\" not defined\nno\n"), std::string::npos);
  uart.output.clear();
  Run("setenv x 1; if printenv x; then echo yes; fi; printenv nothing && echo and || echo or");
  EXPECT_EQ(Out(), "x=1\nyes\n## Error: \"nothing\" not defined\nor\n");
}

TEST_F(UBootShellTest, CommandsByUniquePrefixAndUnknown) {
  EXPECT_EQ(Run("set x 5"), 0);
  EXPECT_EQ(env.Get("x"), "5");
  EXPECT_EQ(Run("s y 1"), 1);  // setenv or saveenv: ambiguous
  EXPECT_EQ(Run("bootp 0x80700000 uImage"), 1);
  EXPECT_NE(Out().find("Unknown command 's' - try 'help'\n"), std::string::npos);
  EXPECT_NE(Out().find("Unknown command 'bootp' - try 'help'\n"), std::string::npos);
}

TEST_F(UBootShellTest, IncompleteAndBrokenScripts) {
  EXPECT_EQ(Shell::Check("setenv a 'open"), ParseResult::kIncomplete);
  EXPECT_EQ(Shell::Check("for a in 1 2; do echo $a"), ParseResult::kIncomplete);
  EXPECT_EQ(Shell::Check("if true; then"), ParseResult::kIncomplete);
  EXPECT_EQ(Shell::Check("echo a; done"), ParseResult::kSyntaxError);
  EXPECT_EQ(Shell::Check("for a in 1; do echo; done; echo x"), ParseResult::kComplete);
  EXPECT_EQ(Run("fi"), 1);
  EXPECT_NE(Out().find("syntax error\n"), std::string::npos);
  Run("setenv loop 'run loop'");
  EXPECT_EQ(Run("run loop"), 1);  // ends instead of recursing for ever
}

TEST_F(UBootShellTest, PrintenvAndRun) {
  Run("setenv serialno QV4N1; setenv greet 'echo hi $serialno'");
  uart.output.clear();
  EXPECT_EQ(Run("printenv serialno"), 0);
  EXPECT_EQ(Out(), "serialno=QV4N1\n");
  EXPECT_EQ(Run("printenv ethaddr"), 1);
  EXPECT_NE(Out().find("## Error: \"ethaddr\" not defined\n"), std::string::npos);
  EXPECT_EQ(Run("run greet"), 0);
  EXPECT_NE(Out().find("hi QV4N1\n"), std::string::npos);
  EXPECT_EQ(Run("run nosuch"), 1);
}

TEST_F(UBootShellTest, SaveenvWritesACheckedBlockIntoNand) {
  Run("setenv serialno S1; setenv ethaddr 02:00:00:00:00:01");
  const Micros before = uart.now;
  EXPECT_EQ(Run("saveenv"), 0);
  EXPECT_EQ(Out(), "Saving Environment to NAND...\nErasing Nand...Writing to Nand... done\n");
  EXPECT_GE(uart.now - before, Nand::EraseTime(kNandEraseBlock));
  const std::vector<uint8_t> block = board.nand.Read(kUbootEnvOffset, kUbootEnvSize);
  const uint32_t crc = block[0] | block[1] << 8 | block[2] << 16 | uint32_t{block[3]} << 24;
  EXPECT_EQ(crc, Crc32(block.data() + 4, kUbootEnvSize - 4));
  const std::string text(block.begin() + 4, block.begin() + 4 + 39);
  EXPECT_EQ(text, std::string("serialno=S1\0ethaddr=02:00:00:00:00:01\0\0", 39));
  auto loaded = Environment::FromBlock(block);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Get("ethaddr"), "02:00:00:00:00:01");
  std::vector<uint8_t> broken = block;
  broken[10] ^= 1;
  EXPECT_FALSE(Environment::FromBlock(broken));
}

TEST_F(UBootShellTest, EnvironmentOverflowIsRefused) {
  const std::string big(9000, 'x');
  EXPECT_EQ(Run("setenv a " + big), 0);
  EXPECT_EQ(Run("setenv b " + big), 1);
  EXPECT_NE(Out().find("## Error: environment overflow, \"b\" deleted\n"), std::string::npos);
  EXPECT_FALSE(env.Get("b"));
  EXPECT_LE(env.UsedBytes(), kEnvDataSize);
}

TEST_F(UBootShellTest, NandEraseWriteReadAndFailures) {
  const std::vector<uint8_t> image = MakeUImage(300000);
  WriteRam(board.ram, kRamLoadAddress, image);
  EXPECT_EQ(Run("nand erase 0x200000 0x400000"), 0);
  EXPECT_NE(Out().find("\nNAND erase: device 0 offset 0x200000, size 0x400000\n"), std::string::npos);
  EXPECT_NE(Out().find("\nOK\n"), std::string::npos);
  EXPECT_EQ(Run("nand write 0x80700000 0x200000 0x400000"), 0);
  EXPECT_NE(Out().find(" 4194304 bytes written: OK\n"), std::string::npos);
  EXPECT_EQ(board.nand.Read(0x200000, image.size()), image);
  // Writing again over programmed pages cannot set bits back: the read-back differs.
  WriteRam(board.ram, kRamLoadAddress, std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(Run("nand write 0x80700000 0x200000 0x400000"), 1);
  EXPECT_NE(Out().find("bytes written: ERROR\n"), std::string::npos);
  board.ram.clear();
  EXPECT_EQ(Run("nand read 0x80700000 0x200000 0x400000"), 0);
  EXPECT_NE(Out().find(" 4194304 bytes read: OK\n"), std::string::npos);
  EXPECT_EQ(ReadRam(board.ram, kRamLoadAddress, image.size()), image);
  EXPECT_EQ(env.Get("filesize"), "400000");
  uart.output.clear();
  EXPECT_EQ(Run("nand erase 0x200000 0x40000O"), 1);
  EXPECT_EQ(Out(), "\nNAND erase: '0x40000O' is not a number\n");
  EXPECT_EQ(Run("nand erase 0x200800 0x20000"), 1);
  EXPECT_EQ(Run("nand write 0x8070000 0x200000 0x400000"), 1);  // not in the DDR
  EXPECT_NE(Out().find("outside the DDR"), std::string::npos);
  board.faults.eraseFail = true;
  uart.output.clear();
  EXPECT_EQ(Run("nand erase 0x00000000 0x00080000"), 1);
  EXPECT_NE(Out().find("\nERROR\n"), std::string::npos);  // U-Boot 1.x's word for it
  EXPECT_EQ(Out().find("OK"), std::string::npos);
}

TEST_F(UBootShellTest, ImInfoChecksHeaderAndData) {
  std::vector<uint8_t> image = MakeUImage(5000);
  WriteRam(board.ram, kRamLoadAddress, image);
  EXPECT_EQ(Run("iminfo 0x80700000"), 0);
  EXPECT_NE(Out().find("   Image Name:   Linux-2.6.10_mvl401\n"), std::string::npos);
  EXPECT_NE(Out().find("   Verifying Checksum ... OK\n"), std::string::npos);
  image[64 + 4999] ^= 0x80;
  WriteRam(board.ram, kRamLoadAddress, image);
  EXPECT_EQ(Run("iminfo"), 1);
  EXPECT_NE(Out().find("Verifying Checksum ... Bad Data CRC\n"), std::string::npos);
  image[40] ^= 1;
  WriteRam(board.ram, kRamLoadAddress, image);
  EXPECT_EQ(Run("iminfo"), 1);
  EXPECT_NE(Out().find("   Bad Header Checksum\n"), std::string::npos);
  EXPECT_EQ(Run("iminfo 0x80000000"), 1);
  EXPECT_NE(Out().find("   Bad Magic Number\n"), std::string::npos);
}

class HostEnvironmentTest : public UBootShellTest {
 protected:
  void SetUp() override {
    for (const std::string& command : testing::HostEnvironmentCommands())
      ASSERT_EQ(Run(command), 0) << command;
    kernel = MakeUImage(1900000);
    WriteRam(board.ram, kRamLoadAddress, kernel);
    uart.output.clear();
  }
  std::vector<uint8_t> kernel;
  const std::vector<uint32_t> slots = {0x200000,  0x3200000, 0x3600000, 0x4000000, 0x4400000,
                                       0x4800000, 0x5200000, 0x5600000, 0x6000000, 0x6400000};
};

TEST_F(HostEnvironmentTest, CloneScriptWritesTenSlots) {
  const Micros start = uart.now;
  EXPECT_EQ(Run("run make_nand_kernel_clones"), 0);
  EXPECT_EQ(uart.Count("written: OK"), 10u);
  EXPECT_EQ(uart.Count("\nOK\n"), 10u);
  EXPECT_NE(Out().find("Make kernel clone on nand offset = 0x3200000\n"), std::string::npos);
  for (uint32_t slot : slots) {
    EXPECT_EQ(board.nand.Read(slot, kernel.size()), kernel) << std::hex << slot;
    EXPECT_EQ(board.nand.Read(slot, 0x400000), ReadRam(board.ram, kRamLoadAddress, 0x400000));
  }
  // Each slot: an erase of 32 blocks and 2048 pages programmed, well inside 10 s.
  const Micros perSlot = (uart.now - start) / 10;
  EXPECT_GE(perSlot, Nand::EraseTime(0x400000) + Nand::ProgramTime(0x400000));
  EXPECT_LT(perSlot, 10 * testing::kSec);
}

TEST_F(HostEnvironmentTest, CloneFaults) {
  board.faults.clonesWritten = 9;
  EXPECT_NE(Run("run make_nand_kernel_clones"), 0);
  EXPECT_EQ(uart.Count("written: OK"), 9u);
  EXPECT_TRUE(board.nand.IsErased(0x6400000, 0x400000));
  board.faults.clonesWritten = 10;
  board.faults.cloneFail = true;
  ctx.nandWrites = 0;
  uart.output.clear();
  Run("run make_nand_kernel_clones");
  EXPECT_EQ(uart.Count("written: OK"), 0u);
  EXPECT_NE(Out().find("written: ERROR"), std::string::npos);
}

// A bad slot loses a bit each time it is written, a flaky one only the first time; the read-back
// takes the board's time, about 4 MB/s.
TEST_F(HostEnvironmentTest, BadAndFlakySlotsAndTheirReadBack) {
  board.faults.badKernelSlots = 0x1;    // slot 1
  board.faults.flakyKernelSlots = 0x2;  // slot 2
  EXPECT_EQ(Run("run make_nand_kernel_clones"), 0);
  EXPECT_EQ(uart.Count("written: OK"), 10u);
  EXPECT_NE(board.nand.Read(slots[0], kernel.size()), kernel);
  EXPECT_NE(board.nand.Read(slots[1], kernel.size()), kernel);
  EXPECT_EQ(board.nand.Read(slots[2], kernel.size()), kernel);
  const Micros start = uart.now;
  EXPECT_EQ(Run("nand read 0x82000000 0x3200000 0x400000"), 0);
  EXPECT_GE(uart.now - start, 900 * testing::kMs);  // 2048 pages of 4 MiB
  EXPECT_LE(uart.now - start, 1100 * testing::kMs);
  uart.output.clear();
  EXPECT_EQ(Run("iminfo 0x82000000"), 1);
  EXPECT_NE(Out().find("Bad Data CRC"), std::string::npos);
  ctx.nandWrites = 0;  // a new command line
  for (uint32_t slot : {slots[0], slots[1]}) {
    const std::string at = " " + Hex8(slot) + " 0x400000";
    EXPECT_EQ(Run("nand erase" + at), 0);
    EXPECT_EQ(Run("nand write 0x80700000" + at), 0);
  }
  EXPECT_NE(board.nand.Read(slots[0], kernel.size()), kernel);
  EXPECT_EQ(board.nand.Read(slots[1], kernel.size()), kernel);
}

TEST_F(HostEnvironmentTest, ATypoInTheEnvironmentFailsTheClones) {
  Run("setenv kernel_size 0x4O0000");
  EXPECT_EQ(Run("run make_nand_kernel_clones"), 1);
  EXPECT_EQ(uart.Count("written: OK"), 0u);
  EXPECT_EQ(uart.Count("'0x4O0000' is not a number"), 20u);
}

TEST_F(HostEnvironmentTest, BootScriptBuildsTheKernelArguments) {
  env.Set("ethaddr", "02:1B:4D:00:00:00");
  // Everything bootmmc2 does before it loads a kernel.
  Run("setenv try_boot_mmc 'echo stop'");
  Run("run bootcmd");
  EXPECT_EQ(env.Get("bootargs"),
            "mem=120M console=ttyS0,115200n8 root=/dev/mmcblk0p1 rw rootfstype=ext3 rootwait "
            "rootdelay=4 nohz=off noinitrd eth=02:1B:4D:00:00:00 init=/sbin/init "
            "ip=192.168.102.30:192.168.102.134:192.168.102.60:255.255.255.0:::off");
}

}  // namespace
}  // namespace sim
