// U-Boot from its start: environment choice, autoboot countdown, the prompt and its line editor.
#include <gtest/gtest.h>

#include "sim/uboot_env.h"
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

}  // namespace
}  // namespace sim
