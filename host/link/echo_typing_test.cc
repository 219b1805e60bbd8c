// Typing with the echo checked against what a real U-Boot behind a network serial server does and
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
#include <vector>

#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"
#include "host/testing/temp_path.h"

namespace {

// The server forwards each write's echo as one burst a round trip later; its own timer makes that
// 20 ms for one write and 28 for the next.
constexpr uint64_t kRoundTripsMs[2] = {20, 28};
constexpr uint64_t kCommandMs = 30;
// The server forwards what follows a pause as a burst of its own this much later.
constexpr uint64_t kServerBurstMs = 10;
// A character received twice: its second echo leaves the board right behind the first, and the
// server forwards it in a burst of its own this much later.
constexpr uint64_t kSecondEchoMs = 8;
constexpr char kCommand[] = "printenv serverip";  // more than the UART's FIFO holds

// The board behind the server; the first line's last character reaches it twice, once.
struct BoardBehindServer {
  bool doubleLast = true;
  std::string line;
  uint64_t busyUntil = 0;
  size_t writes = 0;
  std::vector<std::string> ran;  // the lines U-Boot ran, in order

  void operator()(ScriptedPort& port, const std::string& bytes) {
    const uint64_t now = port.clock().NowMs();
    const uint64_t roundTrip = kRoundTripsMs[writes++ % 2];
    std::string echo;
    std::string second;
    for (char c : bytes) {
      if (c == 0x03) {  // read once the command before it is done
        port.SendAt(std::max(now + roundTrip, busyUntil + kServerBurstMs), "<INTERRUPT>\r\nB-Boot >");
      } else if (c == '\r') {
        port.SendAt(now + roundTrip, echo + "\r\r\n");
        echo.clear();
        ran.push_back(line);
        busyUntil = now + roundTrip + kCommandMs;
        const bool known = line == kCommand;
        port.SendAt(busyUntil, (known ? "serverip=192.168.102.134"
                                      : "## Error: \"" + line.substr(9) + "\" not defined") +
                                   "\r\nB-Boot >");
      } else {
        echo += c;
        line += c;
        if (doubleLast && line.size() == sizeof kCommand - 1) {
          line += c;
          second += c;
          doubleLast = false;
        }
        continue;
      }
      line.clear();
    }
    if (!echo.empty()) port.SendAt(now + roundTrip, echo);
    if (!second.empty()) port.SendAt(now + roundTrip + kSecondEchoMs, second);
  }
};

struct Typed {
  bool typed = false;
  std::string log;
};

// A wait took the line it wanted and left the rest of the last command's output on its way: the
// line is cleared with Ctrl-C once the prompt came (the port was opened just now), and the command
// typed. Its last character arrives twice, the second echo 8 ms behind the first: more than the
// shortest quiet before the Enter, less than the echo's jitter this server shows. The Enter never
// goes with it: Ctrl-C clears the line, the command is typed again, and nothing after its echo is
// read (the answer is the next wait's).
TEST(EchoTyping, ABoardBehindAServerRunsTheCommandOnlyAsTyped) {
  for (UBootTyping typing : {UBootTyping::kEcho, UBootTyping::kPaced}) {
    ScopedVirtualClock clock;
    ScriptedPorts ports(clock.clock());
    ScriptedPort& target = ports.Add("SCRIPT1");
    const std::string logPath = UniqueTempPath("echo_typing_test.log");
    ASSERT_TRUE(OpenLogFile(logPath));
    RS232 port;
    ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
    port.pacedWrite = typing == UBootTyping::kPaced ? 1 : 0;
    const uint64_t start = clock.clock().NowMs();
    target.SendAt(start, "Saving Environment to NAND...\n");
    target.SendAt(start + 5, "Writing to Nand...");
    target.SendAt(start + 45, " done\n");
    target.SendAt(start + 60, "B-Boot >");
    BoardBehindServer board;
    target.onWrite = std::ref(board);
    testing::internal::CaptureStdout();

    ASSERT_TRUE(WaitForLine({}, "Saving Environment", &port, 1000));
    const bool typed = TypeCheckedCommand(&port, kCommand, typing);
    std::string value;
    const int answered = WaitForValue(value, &port, "serverip=");
    testing::internal::GetCapturedStdout();
    CloseLogFile();
    std::ifstream in(logPath, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(logPath.c_str());

    ASSERT_TRUE(typed) << log;
    EXPECT_EQ(board.ran, std::vector<std::string>{kCommand}) << "only the command as typed ran";
    EXPECT_EQ(target.AllWritten(), "\x03" + std::string(kCommand) + "\x03" + kCommand + "\r");
    EXPECT_GE(target.writes.front().atMs, start + 60) << "Ctrl-C once the prompt came";
    if (typing == UBootTyping::kEcho) {
      EXPECT_EQ(target.writes[1].bytes, std::string(kCommand).substr(0, 16));
    } else {
      // One character every 10 ms, the Enter too.
      for (size_t i = 2; i < target.writes.size(); ++i)
        EXPECT_GE(target.writes[i].atMs - target.writes[i - 1].atMs, 10u) << i;
    }
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(value, "192.168.102.134");
    EXPECT_NE(log.find("Writing to Nand... done\r\nB-Boot ><INTERRUPT>\r\nB-Boot >printenv serveripp\r\n"),
              std::string::npos)
        << log;
    // The log ends each of the board's CR CR LF as one line end.
    EXPECT_EQ(log.find("\r\r"), std::string::npos) << log;
    EXPECT_NE(log.find("Echo check: \"printenv serverip\" came back with more after it; typing it again."),
              std::string::npos);
    EXPECT_NE(log.find("<INTERRUPT>\r\nB-Boot >printenv serverip\r\n"), std::string::npos) << log;
  }
}

}  // namespace
