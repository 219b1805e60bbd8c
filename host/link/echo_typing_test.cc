// Typing at the pace of the echo against what a real U-Boot behind a network serial server does and
// the simulated board does not: its serial driver puts a CR before every LF, so the Enter comes back
// as CR CR LF; its prompt has no blank after it; each write's echo comes back as one burst a round
// trip later; a command takes its time, and the output of the last one is still on its way when the
// next is typed.
#include "host/link/echo_typing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"

namespace {

constexpr uint64_t kRoundTripMs = 20;
// The server forwards what follows a pause as a burst of its own this much later.
constexpr uint64_t kServerBurstMs = 10;

// The board behind the server. With doubleLast, the first line's last character arrives twice.
struct BoardBehindServer {
  std::string answer;  // what a command prints
  uint64_t commandMs = 0;
  bool doubleLast = false;
  size_t lineLength = 0;
  std::string line;
  uint64_t busyUntil = 0;

  void operator()(ScriptedPort& port, const std::string& bytes) {
    const uint64_t now = port.clock().NowMs();
    std::string echo;
    for (char c : bytes) {
      if (c == 0x03) {  // read once the command before it is done; the server sends it apart
        port.SendAt(std::max(now + kRoundTripMs, busyUntil + kServerBurstMs), "<INTERRUPT>\r\nB-Boot >");
        line.clear();
      } else if (c == '\r') {
        port.SendAt(now + kRoundTripMs, echo + "\r\r\n");
        echo.clear();
        busyUntil = now + kRoundTripMs + commandMs;
        port.SendAt(busyUntil, answer + "B-Boot >");
        line.clear();
        doubleLast = false;
      } else {
        echo += c;
        line += c;
        if (doubleLast && line.size() == lineLength) echo += c;
      }
    }
    if (!echo.empty()) port.SendAt(now + kRoundTripMs, echo);
  }
};

class EchoTypingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenLogFile(logPath_));
    ASSERT_EQ(port_.Open("SCRIPT1", kPortSettings), 1);
    testing::internal::CaptureStdout();
  }
  void TearDown() override {
    testing::internal::GetCapturedStdout();
    CloseLogFile();
    std::remove(logPath_.c_str());
  }
  std::string Log() {
    CloseLogFile();
    std::ifstream in(logPath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  uint64_t Now() { return clock_.clock().NowMs(); }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_{clock_.clock()};
  ScriptedPort& target_ = ports_.Add("SCRIPT1");
  RS232 port_;
  std::string logPath_ = testing::TempDir() + "echo_typing_test.log";
};

// A wait took the line it wanted and left the rest of the board's output unread, still on its way:
// the command is typed once the prompt came, once, and nothing after its echo is read (the answer
// is the next wait's).
TEST_F(EchoTypingTest, ABoardBehindAServerTakesTheCommandAsTyped) {
  const uint64_t start = Now();
  target_.SendAt(start, "Saving Environment to NAND...\n");
  target_.SendAt(start + 5, "Writing to Nand...");
  target_.SendAt(start + 45, " done\n");
  target_.SendAt(start + 60, "B-Boot >");
  ASSERT_TRUE(WaitForLine({}, "Saving Environment", &port_, 1000));
  BoardBehindServer board;
  board.answer = "serverip=192.168.102.134\n";
  target_.onWrite = std::ref(board);
  const std::string command = "printenv serverip; printenv ipaddr";  // more than the FIFO holds

  ASSERT_TRUE(TypeCommandAtEcho(&port_, command));
  EXPECT_EQ(target_.AllWritten(), command + "\r");
  EXPECT_GE(target_.writes.front().atMs, start + 60);
  EXPECT_EQ(target_.writes.front().bytes, command.substr(0, 16));
  std::string value;
  EXPECT_EQ(WaitForValue(value, &port_, "serverip="), 1);
  EXPECT_EQ(value, "192.168.102.134");
  const std::string log = Log();
  // The log ends each of the board's CR CR LF as a line: CR, CR, CR LF.
  EXPECT_NE(log.find("Writing to Nand... done\r\nB-Boot >" + command + "\r\r\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Echo check"), std::string::npos);
}

// The last character arrives twice: the Enter, sent once the line came back, runs the command with
// it, and its echo shows it. Ctrl-C reaches U-Boot only after that command, which prints its prompt
// first: the command is typed again after the second prompt, not after the first.
TEST_F(EchoTypingTest, ACharacterDoubledBeforeTheEnterIsTypedAgainAfterTheLastPrompt) {
  target_.SendAt(Now(), "B-Boot >");
  BoardBehindServer board;
  board.commandMs = 30;
  board.doubleLast = true;
  const std::string command = "setenv serverip 192.168.102.134";
  board.lineLength = command.size();
  target_.onWrite = std::ref(board);

  ASSERT_TRUE(TypeCommandAtEcho(&port_, command));
  EXPECT_EQ(target_.AllWritten(), command + "\r\x03" + command + "\r");
  const std::string log = Log();
  EXPECT_NE(log.find("Echo check: \"setenv serverip 192.168.102.134\" came back otherwise at its Enter; "
                     "typing it again."),
            std::string::npos)
      << log;
}

}  // namespace
