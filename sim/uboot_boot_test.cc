// U-Boot from its start: environment choice, autoboot countdown, the prompt and its line editor.
#include <gtest/gtest.h>

#include "sim/uboot_env.h"
#include "sim/uboot_memory.h"
#include "sim/uboot_test_support.h"

namespace sim {
namespace {

using testing::Idle;
using testing::kMs;
using testing::kSec;
using testing::ScriptedUart;

class UBootBootTest : public ::testing::Test {
 protected:
  // Runs U-Boot until it waits for input that never comes.
  void Boot() { EXPECT_THROW(RunUBoot(uart, board), Idle); }
  ScriptedUart uart;
  BoardState board;
};

TEST_F(UBootBootTest, TypedAheadKeyStopsTheCountdown) {
  uart.Type("\n\n", 0);
  Boot();
  EXPECT_NE(uart.output.find("*** Warning - bad CRC or NAND, using default environment"), std::string::npos);
  EXPECT_NE(uart.output.find("Hit any key to stop autoboot:  3 \b\b\b 0\nB-Boot > \r\nB-Boot > "), std::string::npos);
  EXPECT_EQ(uart.output.find("NAND read"), std::string::npos);  // bootcmd did not run
}

TEST_F(UBootBootTest, CountdownRunsBootcmdAfterThreeSeconds) {
  Boot();
  const Micros start = uart.TimeOf("Hit any key");
  EXPECT_EQ(uart.TimeOf("\b\b\b 2 ") - start, 1 * kSec);
  EXPECT_EQ(uart.TimeOf("\b\b\b 0 ") - start, 3 * kSec);
  // The default bootcmd reads the first kernel slot: an empty NAND holds no image.
  EXPECT_NE(uart.output.find("\nNAND read: device 0 offset 0x200000, size 0x400000\n"), std::string::npos);
  EXPECT_NE(uart.output.find("   Bad Magic Number\nB-Boot > "), std::string::npos);
}

TEST_F(UBootBootTest, KeyDuringTheCountdownStopsItThere) {
  uart.Type("x", 1500 * kMs);
  Boot();
  EXPECT_EQ(uart.TimeOf("\b\b\b 0 "), 1500 * kMs);
  EXPECT_EQ(uart.output.find("NAND read"), std::string::npos);
}

TEST_F(UBootBootTest, DefaultEnvironmentCarriesTheFactoryIdentity) {
  uart.Type("\nprintenv serialno\nprintenv ethaddr\n", 0);
  Boot();
  EXPECT_NE(uart.output.find(std::string("serialno=") + kFactorySerialno + "\n"), std::string::npos);
  EXPECT_NE(uart.output.find(std::string("ethaddr=") + kFactoryEthaddr + "\n"), std::string::npos);
}

TEST_F(UBootBootTest, IdentityFaultsLeaveTheVariablesOut) {
  board.faults.missingEthaddr = true;
  uart.Type("\nprintenv serialno\nprintenv ethaddr\n", 0);
  Boot();
  EXPECT_NE(uart.output.find("serialno="), std::string::npos);
  EXPECT_NE(uart.output.find("## Error: \"ethaddr\" not defined\n"), std::string::npos);
  EXPECT_EQ(uart.output.find("ethaddr="), std::string::npos);
}

TEST_F(UBootBootTest, SavedEnvironmentSurvivesARestartAndABrokenOneDoesNot) {
  uart.Type("\nsetenv serialno NEW1; setenv bootdelay 1; saveenv\n", 0);
  Boot();
  ScriptedUart second;
  second.Type("\nprintenv serialno\n", 0);
  EXPECT_THROW(RunUBoot(second, board), Idle);
  EXPECT_EQ(second.output.find("bad CRC"), std::string::npos);
  EXPECT_NE(second.output.find("Hit any key to stop autoboot:  1 "), std::string::npos);
  EXPECT_NE(second.output.find("serialno=NEW1\n"), std::string::npos);
  // One flipped bit in the stored block: the default comes back.
  std::vector<uint8_t> block = board.nand.Read(kUbootEnvOffset, kUbootEnvSize);
  board.nand.Erase(kUbootEnvOffset, kUbootEnvSize);
  block[100] ^= 0x01;
  board.nand.Program(kUbootEnvOffset, block);
  ScriptedUart third;
  third.Type("\nprintenv serialno\n", 0);
  EXPECT_THROW(RunUBoot(third, board), Idle);
  EXPECT_NE(third.output.find("bad CRC"), std::string::npos);
  EXPECT_NE(third.output.find(std::string("serialno=") + kFactorySerialno), std::string::npos);
}

TEST_F(UBootBootTest, LineLongerThanTheBufferRingsTheBellAndIsCut) {
  const std::string line = "echo " + std::string(295, 'x');
  uart.Type("\n" + line + "\r", 0);
  Boot();
  // 254 characters are kept and echoed, each further one answered with a bell.
  EXPECT_NE(uart.output.find("B-Boot > " + line.substr(0, 254) + std::string(46, '\a') + "\r\n"),
            std::string::npos);
  EXPECT_NE(uart.output.find("\r\n" + std::string(249, 'x') + "\n"), std::string::npos);
}

TEST_F(UBootBootTest, EditingKeysAndContinuationLines) {
  uart.Type("\nsetenv a 1x\b2\r\nsetenv b 'one\rtwo'\r\nprintenv a b\r\n\x03", 0);
  Boot();
  EXPECT_NE(uart.output.find("setenv a 1x\b \b2\r\n"), std::string::npos);
  EXPECT_NE(uart.output.find("B-Boot > setenv b 'one\r\n> two'\r\n"), std::string::npos);
  EXPECT_NE(uart.output.find("a=12\nb=one\ntwo\n"), std::string::npos);
  EXPECT_NE(uart.output.find("<INTERRUPT>\n"), std::string::npos);
}

TEST_F(UBootBootTest, CharactersTypedFasterThanThePaceAreLost) {
  board.faults.dropFasterThanMs = 15;
  uart.Type("\n", 0);
  uart.Type("echo abcdef\r", 1 * kSec, 10 * kMs);  // every second one comes too soon
  uart.Type("echo ghi\r", 2 * kSec, 20 * kMs);
  Boot();
  // Taken: e, h, blank, b, d, f; the CR is lost too, so the next line runs on.
  EXPECT_NE(uart.output.find("B-Boot > eh bdfecho ghi\r\nUnknown command 'eh'"), std::string::npos);
}

// A carriage return and a line feed are two Enters: the empty line runs the last line again when
// every command in it may repeat (md goes on where it stopped), unless a command took the line
// feed while it ran (each pass of a for loop looks for Ctrl-C).
TEST_F(UBootBootTest, AnEmptyLineRunsTheLastRepeatableLineAgain) {
  std::vector<uint8_t> bytes;
  for (uint8_t b = 'A'; b < 'A' + 64; ++b) bytes.push_back(b);
  WriteRam(board.ram, kRamLoadAddress, bytes);
  uart.Type("\n", 0);
  uart.Type("printenv serialno\r\n", 100 * kMs);
  uart.Type("setenv twice 'for i in a b; do echo pass $i; done'\r\n", 1 * kSec);
  uart.Type("md.b 80700000 20\r\n", 2 * kSec);
  uart.Type("md 80700000 4\r", 3 * kSec);
  uart.Type("nosuch\r\n", 4 * kSec);
  uart.Inject("run twice\r\n", 5 * kSec);  // arriving together, as a network server sends it
  Boot();
  EXPECT_EQ(uart.Count("serialno="), 2u);
  EXPECT_EQ(uart.Count("Unknown command 'nosuch'"), 1u);
  EXPECT_EQ(uart.Count("pass a\n"), 1u);
  EXPECT_NE(uart.output.find("\r\n80700000: 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50    ABCDEFGHIJKLMNOP\n"
                             "80700010: 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f 60    QRSTUVWXYZ[\\]^_`\n"
                             "B-Boot > \r\n80700020: 61"),
            std::string::npos);
  // Words as the little-endian ARM reads them.
  EXPECT_NE(uart.output.find("80700000: 44434241 48474645 4c4b4a49 504f4e4d    ABCDEFGHIJKLMNOP\n"),
            std::string::npos);
  EXPECT_EQ(board.repeatedCommands, 2u);
  EXPECT_EQ(board.scriptRuns["twice"], 1u);
}

}  // namespace
}  // namespace sim
