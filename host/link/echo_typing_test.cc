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
constexpr uint64_t kCommandMs = 30;
// The server forwards what follows a pause as a burst of its own this much later.
constexpr uint64_t kServerBurstMs = 10;
constexpr char kCommand[] = "printenv serverip";  // more than the UART's FIFO holds

// The board behind the server; the first line's last character reaches it twice.
struct BoardBehindServer {
  bool doubleLast = true;
  std::string line;
  uint64_t busyUntil = 0;

  void operator()(ScriptedPort& port, const std::string& bytes) {
    const uint64_t now = port.clock().NowMs();
    std::string echo;
    for (char c : bytes) {
      if (c == 0x03) {  // read once the command before it is done
        port.SendAt(std::max(now + kRoundTripMs, busyUntil + kServerBurstMs), "<INTERRUPT>\r\nB-Boot >");
      } else if (c == '\r') {
        port.SendAt(now + kRoundTripMs, echo + "\r\r\n");
        echo.clear();
        busyUntil = now + kRoundTripMs + kCommandMs;
        const bool known = line == kCommand;
        port.SendAt(busyUntil, (known ? "serverip=192.168.102.134"
                                      : "## Error: \"" + line.substr(9) + "\" not defined") +
                                   "\r\nB-Boot >");
        doubleLast = false;
      } else {
        echo += c;
        line += c;
        if (doubleLast && line.size() == sizeof kCommand - 1) echo += c;
        continue;
      }
      line.clear();
    }
    if (!echo.empty()) port.SendAt(now + kRoundTripMs, echo);
  }
};

// A wait took the line it wanted and left the rest of the last command's output on its way: the
// command is typed once the prompt came. Its last character arrives twice: the Enter, sent once the
// line came back, runs the command with it, and its echo shows it. Ctrl-C reaches U-Boot only after
// that command, which prints its prompt first: the command is typed again after the second prompt,
// and nothing after its echo is read (the answer is the next wait's).
TEST(EchoTyping, ABoardBehindAServerTakesTheCommandAsTyped) {
  ScopedVirtualClock clock;
  ScriptedPorts ports(clock.clock());
  ScriptedPort& target = ports.Add("SCRIPT1");
  const std::string logPath = testing::TempDir() + "echo_typing_test.log";
  ASSERT_TRUE(OpenLogFile(logPath));
  RS232 port;
  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  const uint64_t start = clock.clock().NowMs();
  target.SendAt(start, "Saving Environment to NAND...\n");
  target.SendAt(start + 5, "Writing to Nand...");
  target.SendAt(start + 45, " done\n");
  target.SendAt(start + 60, "B-Boot >");
  BoardBehindServer board;
  target.onWrite = std::ref(board);
  testing::internal::CaptureStdout();

  ASSERT_TRUE(WaitForLine({}, "Saving Environment", &port, 1000));
  const bool typed = TypeCommandAtEcho(&port, kCommand);
  std::string value;
  const int answered = WaitForValue(value, &port, "serverip=");
  testing::internal::GetCapturedStdout();
  CloseLogFile();
  std::ifstream in(logPath, std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(logPath.c_str());

  ASSERT_TRUE(typed) << log;
  EXPECT_EQ(target.AllWritten(), std::string(kCommand) + "\r\x03" + kCommand + "\r");
  EXPECT_GE(target.writes.front().atMs, start + 60);
  EXPECT_EQ(target.writes.front().bytes, std::string(kCommand).substr(0, 16));
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(value, "192.168.102.134");
  // The log ends each of the board's CR CR LF as one line end.
  EXPECT_NE(log.find("Writing to Nand... done\r\nB-Boot >printenv serveripp\r"), std::string::npos) << log;
  EXPECT_NE(log.find("Echo check: \"printenv serverip\" came back otherwise at its Enter; typing it again."),
            std::string::npos);
  EXPECT_NE(log.find("<INTERRUPT>\r\nB-Boot >printenv serverip\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("\r\r"), std::string::npos) << log;
}

}  // namespace
