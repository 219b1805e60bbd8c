// The YModem receiver driven with hand-built blocks: what it answers, what it keeps.
#include <gtest/gtest.h>

#include "sim/crc.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_loady.h"
#include "sim/uboot_memory.h"
#include "sim/uboot_test_support.h"

namespace sim {
namespace {

using testing::Idle;
using testing::kMs;
using testing::kSec;
using testing::ScriptedUart;

std::string Block(uint8_t number, const std::string& payload, size_t size = 1024) {
  std::string data = payload;
  data.resize(size, '\x1A');
  const uint16_t crc = Crc16Xmodem(reinterpret_cast<const uint8_t*>(data.data()), size);
  std::string block(1, size == 1024 ? char(kStx) : char(kSoh));
  block += char(number);
  block += char(255 - number);
  block += data;
  block += char(crc >> 8);
  block += char(crc & 0xFF);
  return block;
}

std::string Header(const std::string& name, size_t length) {
  std::string payload = name + '\0' + std::to_string(length) + " 11750175350 100644";
  payload += '\0';
  payload.resize(1024, '\0');
  return Block(0, payload);
}

std::string FileBytes(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 13 + 1);
  return s;
}

// The sending side: frame i goes out once the receiver's i-th control byte (C, ACK, NAK, CAN)
// has arrived; the control bytes are kept in order.
struct Sender {
  std::vector<std::string> frames;
  std::string answers;
  size_t seen = 0;
  void operator()(ScriptedUart& uart) {
    for (; seen < uart.output.size(); ++seen) {
      const char c = uart.output[seen];
      if (c == 'C' || c == char(kAck) || c == char(kNak) || c == char(kCan)) answers += c;
    }
    const size_t due = answers.size();
    if (sent < due && sent < frames.size()) uart.Inject(frames[sent++], uart.now + kMs);
  }
  size_t sent = 0;
};

class YmodemTest : public ::testing::Test {
 protected:
  YmodemResult Receive() {
    uart.peer = std::ref(sender);
    YmodemResult r = ReceiveYmodem(uart, faults);
    sender(uart);  // the answers to the last frames
    return r;
  }
  ScriptedUart uart;
  Faults faults;
  Sender sender;
  const std::string file = FileBytes(2500);
  const std::string eot = std::string(1, char(kEot));
};

TEST_F(YmodemTest, ReceivesAFileCutToItsAnnouncedLength) {
  sender.frames = {Header("uImage", 2500), Block(1, file.substr(0, 1024)),
                   Block(2, file.substr(1024, 1024)), Block(3, file.substr(2048)), eot};
  const YmodemResult r = Receive();
  EXPECT_TRUE(r.complete) << r.error;
  EXPECT_EQ(r.fileName, "uImage");
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), file);
  EXPECT_EQ(sender.answers, std::string("C") + char(kAck) + char(kAck) + char(kAck) + char(kAck) + char(kAck));
}

TEST_F(YmodemTest, PollsWithCOnceASecondUntilTheFirstBlock) {
  uart.stopAt = 5500 * kMs;
  // The line end typed after "loady" and other stray bytes bring no C forward: a sender that took
  // the first C must not find a second one where its ACK is due.
  uart.Inject("\n", 10 * kMs);
  uart.Inject("x", 1500 * kMs);
  EXPECT_THROW(ReceiveYmodem(uart, faults), Idle);
  EXPECT_EQ(uart.output, "CCCCCC");
  for (size_t i = 0; i < uart.sends.size(); ++i) EXPECT_EQ(uart.sends[i].first, i * kSec);
  ScriptedUart once;
  once.stopAt = 5500 * kMs;
  faults.noAnnounceRepeat = true;
  EXPECT_THROW(ReceiveYmodem(once, faults), Idle);
  EXPECT_EQ(once.output, "C");
}

TEST_F(YmodemTest, GivesUpAfterAMinuteWithoutSender) {
  const YmodemResult r = ReceiveYmodem(uart, faults);
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.error, "Timed out");
  EXPECT_EQ(uart.Count("C"), 60u);
}

TEST_F(YmodemTest, BadCrcAndBadComplementGetANakAndTheRepeatIsTaken) {
  std::string badCrc = Block(1, file.substr(0, 1024));
  badCrc[500] ^= 0x01;
  std::string badComplement = Block(1, file.substr(0, 1024));
  badComplement[2] = 0;
  sender.frames = {Header("uImage", 1024), badCrc, badComplement, Block(1, file.substr(0, 1024)), eot};
  const YmodemResult r = Receive();
  EXPECT_TRUE(r.complete) << r.error;
  EXPECT_EQ(sender.answers, std::string("C") + char(kAck) + char(kNak) + char(kNak) + char(kAck) + char(kAck));
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), file.substr(0, 1024));
}

TEST_F(YmodemTest, ARepeatedBlockIsAcknowledgedAndDropped) {
  sender.frames = {Header("uImage", 1100), Block(1, file.substr(0, 1024)), Block(1, file.substr(0, 1024)),
                   Block(2, file.substr(1024, 76)), eot};
  const YmodemResult r = Receive();
  EXPECT_TRUE(r.complete) << r.error;
  EXPECT_EQ(std::string(r.data.begin(), r.data.end()), file.substr(0, 1100));
}

TEST_F(YmodemTest, ABlockOutOfSequenceCancels) {
  sender.frames = {Header("uImage", 2500), Block(2, file.substr(0, 1024))};
  const YmodemResult r = Receive();
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.error, "Block sequence error");
  EXPECT_EQ(sender.answers.substr(2), std::string(2, char(kCan)));
}

TEST_F(YmodemTest, DataBeforeAHeaderIsOutOfSequence) {
  sender.frames = {Block(1, file.substr(0, 1024))};
  EXPECT_EQ(Receive().error, "Block sequence error");
}

TEST_F(YmodemTest, ShortBlocksAndAShortFile) {
  // 128-byte blocks are taken too; an EOT before the announced length is not a complete file.
  sender.frames = {Header("uImage", 300), Block(1, file.substr(0, 128), 128), eot};
  const YmodemResult r = Receive();
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.error, "Short file: 128 of 300 bytes received");
  EXPECT_EQ(sender.answers.back(), char(kAck));  // the EOT itself is acknowledged
}

TEST_F(YmodemTest, FaultSwitchesOnTheAnswers) {
  faults.nakBlock = 2;
  sender.frames = {Header("uImage", 2500), Block(1, file.substr(0, 1024)), Block(2, file.substr(1024, 1024)), eot};
  EXPECT_FALSE(Receive().complete);
  EXPECT_EQ(sender.answers, std::string("C") + char(kAck) + char(kAck) + char(kNak) + char(kAck));

  ScriptedUart second;
  Sender cSender;
  cSender.frames = {Header("uImage", 0), eot};
  second.peer = std::ref(cSender);
  Faults cForAck;
  cForAck.cForAck = true;
  EXPECT_TRUE(ReceiveYmodem(second, cForAck).complete);
  cSender(second);
  EXPECT_EQ(cSender.answers, std::string("CC") + char(kAck));

  ScriptedUart third;
  Sender silent;
  silent.frames = {Header("uImage", 0), eot};
  third.peer = std::ref(silent);
  Faults noAck;
  noAck.noAckBlock = -2;
  third.stopAt = 100 * kSec;
  EXPECT_EQ(ReceiveYmodem(third, noAck).complete, true);
  silent(third);
  EXPECT_EQ(silent.answers, std::string("C") + char(kAck));  // nothing for the EOT
}

TEST_F(YmodemTest, LoadyStoresTheFileAtTheLoadAddress) {
  BoardState board;
  Environment env;
  UBootContext ctx{uart, board, env};
  Shell shell(ctx, UBootCommands());
  sender.frames = {Header("uImage", 2500), Block(1, file.substr(0, 1024)),
                   Block(2, file.substr(1024, 1024)), Block(3, file.substr(2048)), eot};
  uart.peer = std::ref(sender);
  EXPECT_EQ(shell.Run("loady"), 0);
  EXPECT_EQ(uart.output.find("## Ready for binary (ymodem) download to 0x80700000 at 115200 bps...\nC"), 0u);
  EXPECT_NE(uart.output.find("## Total Size      = 0x000009c4 = 2500 Bytes\n"), std::string::npos);
  const std::vector<uint8_t> ram = ReadRam(board.ram, kRamLoadAddress, 2500);
  EXPECT_EQ(std::string(ram.begin(), ram.end()), file);
  EXPECT_EQ(env.Get("filesize"), "9C4");
  EXPECT_EQ(board.lastLoadSize, 2500u);

  board.faults.nakBlock = 1;
  Sender failing;
  failing.frames = {Header("uImage", 2500), Block(1, file.substr(0, 1024)), eot};
  uart.peer = std::ref(failing);
  failing.seen = uart.output.size();
  const size_t before = uart.output.size();
  EXPECT_EQ(shell.Run("loady"), 1);
  EXPECT_EQ(uart.output.find("## Total Size", before), std::string::npos);
  EXPECT_NE(uart.output.find("Short file: 0 of 2500 bytes received\n", before), std::string::npos);
}

}  // namespace
}  // namespace sim
