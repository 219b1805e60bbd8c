// U-Boot as the UBL starts it: banner, environment from NAND (or the built-in default), the
// autoboot countdown, then the "B-Boot > " prompt with its line editor and shell.
#include <cstdlib>

#include "sim/firmware.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_console.h"
#include "sim/uboot_env.h"
#include "sim/uboot_shell.h"

namespace sim {

namespace {

constexpr const char* kPrompt = "B-Boot > ";
constexpr const char* kContinuationPrompt = "> ";
constexpr int kDefaultBootDelay = 3;
constexpr Micros kInitTime = 250000;  // DDR, NAND and console set-up

Environment StartEnvironment(Uart& uart, BoardState& board) {
  Environment env;
  const auto saved = Environment::FromBlock(board.nand.Read(kUbootEnvOffset, kUbootEnvSize));
  if (saved) {
    env = *saved;
    board.events.push_back("u-boot: saved environment");
  } else {
    uart.Send("*** Warning - bad CRC or NAND, using default environment\n\n");
    env = DefaultEnvironment(board.faults);
    board.events.push_back("u-boot: default environment");
  }
  if (board.faults.missingEthaddr) env.Unset("ethaddr");
  if (board.faults.missingSerialno) env.Unset("serialno");
  return env;
}

int BootDelay(const Environment& env) {
  const auto text = env.Get("bootdelay");
  if (!text || text->empty()) return kDefaultBootDelay;
  char* end = nullptr;
  const long value = std::strtol(text->c_str(), &end, 10);
  return *end == '\0' ? static_cast<int>(value) : kDefaultBootDelay;
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

void RunUBoot(Uart& uart, BoardState& board) {
  uart.Send("\n\nU-Boot 1.2.0 (Mar 10 2010 - 11:42:07)\n\n");
  uart.Delay(kInitTime);
  uart.Send("I2C:   ready\nDRAM:  128 MB\nNAND:  128 MiB\n");
  Environment env = StartEnvironment(uart, board);
  uart.Send("In:    serial\nOut:   serial\nErr:   serial\nARM Clock : 297MHz\nDDR Clock : 162MHz\n");

  UBootContext ctx{uart, board, env};
  Shell shell(ctx, UBootCommands());
  const int bootDelay = BootDelay(env);
  if (bootDelay >= 0 && !CountDownAutoboot(uart, bootDelay)) {
    const auto bootcmd = env.Get("bootcmd");
    if (bootcmd) shell.Run(*bootcmd);
  }

  LineEditor editor(uart, board);
  for (;;) {
    ctx.nandWrites = 0;
    auto line = editor.ReadLine(kPrompt);
    if (!line) {
      uart.Send("<INTERRUPT>\n");
      continue;
    }
    std::string script = *line;
    // An open quote, for or if asks for the rest on further lines.
    while (line && Shell::Check(script) == ParseResult::kIncomplete) {
      line = editor.ReadLine(kContinuationPrompt);
      if (line) script += "\n" + *line;
    }
    if (!line) {
      uart.Send("<INTERRUPT>\n");
      continue;
    }
    // An empty line does nothing: the host ends its lines with CR LF, and repeating the last
    // command on the LF would run every clone script twice.
    if (IsBlank(script)) continue;
    shell.Run(script);
  }
}

}  // namespace sim
