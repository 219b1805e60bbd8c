// U-Boot as the UBL starts it: banner, environment from NAND (or the built-in default), the
// autoboot countdown, then the "B-Boot > " prompt with its line editor and shell.
#include <cstdlib>

#include "sim/firmware.h"
#include "sim/firmware_io.h"
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

// The lost-environment fault: the block in NAND fails its CRC at U-Boot's first start (a write cut
// off by a power loss), and the built-in defaults hold no identity.
void LoseSavedEnvironment(BoardState& board) {
  if (!board.faults.lostEnvironment || board.environmentLost) return;
  board.environmentLost = true;
  std::vector<uint8_t> block = board.nand.Read(kUbootEnvOffset, kUbootEnvSize);
  if (!Environment::FromBlock(block)) return;  // lost already
  block[0] = static_cast<uint8_t>(~block[0]);
  board.nand.Erase(kUbootEnvOffset, kUbootEnvSize);
  board.nand.Program(kUbootEnvOffset, block);
  Note(board, "u-boot: the saved environment fails its CRC (fault)");
}

Environment StartEnvironment(Uart& uart, BoardState& board) {
  LoseSavedEnvironment(board);
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
  if (board.faults.missingEthaddr || (!saved && board.faults.lostEnvironment)) env.Unset("ethaddr");
  if (board.faults.missingSerialno || (!saved && board.faults.lostEnvironment)) env.Unset("serialno");
  return env;
}

int BootDelay(const Environment& env) {
  const auto text = env.Get("bootdelay");
  if (!text || text->empty()) return kDefaultBootDelay;
  char* end = nullptr;
  const long value = std::strtol(text->c_str(), &end, 10);
  return *end == '\0' ? static_cast<int>(value) : kDefaultBootDelay;
}

}  // namespace

void RunUBoot(Uart& uart, BoardState& board) {
  uart.SetPolled(true);  // U-Boot reads its console only when it looks for a character
  uart.SetCrBeforeLf(true);  // its serial driver sends every line feed as CR LF
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
  // An empty line runs the last line again when every command in it was repeatable, as U-Boot's
  // console does: a host that ends its lines with CR LF gets each repeatable command twice.
  std::string lastLine;
  bool repeatable = false;
  for (;;) {
    ctx.nandWrites = 0;
    ctx.interrupted = false;
    auto line = editor.ReadLine(kPrompt);
    std::string script = line.value_or("");
    // An open quote, for or if asks for the rest on further lines.
    while (line && Shell::Check(script) == ParseResult::kIncomplete) {
      line = editor.ReadLine(kContinuationPrompt);
      if (line) script += "\n" + *line;
    }
    if (!line) {
      uart.Send("<INTERRUPT>\n");
      repeatable = false;
      continue;
    }
    ctx.repeating = script.empty();
    if (ctx.repeating) {
      if (!repeatable) continue;
      script = lastLine;
      ++board.repeatedCommands;
      Note(board, "u-boot: an empty line ran '" + script + "' again");
    }
    lastLine = script;
    ctx.repeatable = true;
    shell.Run(script);
    repeatable = ctx.repeatable && !ctx.interrupted;
  }
}

}  // namespace sim
