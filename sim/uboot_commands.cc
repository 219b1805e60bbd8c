#include "sim/uboot_commands.h"

#include <algorithm>
#include <cstdio>

#include "sim/firmware.h"

namespace sim {

namespace {

constexpr const char* kVersion = "U-Boot 1.2.0 (Mar 10 2010 - 11:42:07)";

std::string Join(const std::vector<std::string>& argv, size_t from) {
  std::string text;
  for (size_t i = from; i < argv.size(); ++i) text += (i > from ? " " : "") + argv[i];
  return text;
}

int SetEnv(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  if (argv.size() < 2) return PrintUsage(ctx, shell, "setenv");
  const std::string& name = argv[1];
  if (name.find('=') != std::string::npos) {
    ctx.uart.Send("## Error: illegal character '=' in variable name \"" + name + "\"\n");
    return 1;
  }
  // Built without CONFIG_ENV_OVERWRITE, U-Boot keeps a set ethaddr: neither changed nor deleted.
  if (ctx.board.faults.protectEthaddr && name == "ethaddr" && ctx.env.Get(name)) {
    ctx.uart.Send("Can't overwrite \"" + name + "\"\n");
    return 1;
  }
  if (argv.size() == 2) {
    ctx.env.Unset(name);
    return 0;
  }
  if (!ctx.env.Set(name, Join(argv, 2))) {
    ctx.env.Unset(name);
    ctx.uart.Send("## Error: environment overflow, \"" + name + "\" deleted\n");
    return 1;
  }
  return 0;
}

int PrintEnv(UBootContext& ctx, Shell&, const std::vector<std::string>& argv) {
  if (argv.size() == 1) {
    for (const Environment::Entry& e : ctx.env.Entries()) ctx.uart.Send(e.first + "=" + e.second + "\n");
    char size[64];
    std::snprintf(size, sizeof size, "\nEnvironment size: %zu/%zu bytes\n", ctx.env.UsedBytes(),
                  kEnvDataSize);
    ctx.uart.Send(size);
    return 0;
  }
  int status = 0;
  for (size_t i = 1; i < argv.size(); ++i) {
    const auto value = ctx.env.Get(argv[i]);
    if (value) {
      ctx.uart.Send(argv[i] + "=" + *value + "\n");
    } else {
      ctx.uart.Send("## Error: \"" + argv[i] + "\" not defined\n");
      status = 1;
    }
  }
  return status;
}

int SaveEnv(UBootContext& ctx, Shell&, const std::vector<std::string>&) {
  Nand& nand = ctx.board.nand;
  ctx.uart.Send("Saving Environment to NAND...\n");
  ctx.uart.Send("Erasing Nand...");
  ctx.uart.Delay(Nand::EraseTime(kNandEraseBlock));
  if (!nand.Erase(kUbootEnvOffset, kUbootEnvSize)) {
    ctx.uart.Send("\n");
    return 1;
  }
  ctx.uart.Send("Writing to Nand... ");
  const std::vector<uint8_t> block = ctx.env.ToBlock();
  ctx.uart.Delay(Nand::ProgramTime(kUbootEnvSize));
  if (!nand.Program(kUbootEnvOffset, block) || nand.Read(kUbootEnvOffset, kUbootEnvSize) != block) {
    ctx.uart.Send("\n");
    return 1;
  }
  ctx.uart.Send("done\n");
  ctx.board.events.push_back("u-boot: saved environment, " + std::to_string(ctx.env.Entries().size()) +
                             " variables");
  return 0;
}

int Run(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  if (argv.size() < 2) return PrintUsage(ctx, shell, "run");
  for (size_t i = 1; i < argv.size(); ++i) {
    const auto script = ctx.env.Get(argv[i]);
    if (!script) {
      ctx.uart.Send("## Error: \"" + argv[i] + "\" not defined\n");
      return 1;
    }
    ++ctx.board.scriptRuns[argv[i]];
    if (shell.Run(*script) != 0) return 1;
  }
  return 0;
}

int Echo(UBootContext& ctx, Shell&, const std::vector<std::string>& argv) {
  std::string text = Join(argv, 1);
  // A trailing \c keeps the line open.
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\c") == 0) {
    ctx.uart.Send(text.substr(0, text.size() - 2));
  } else {
    ctx.uart.Send(text + "\n");
  }
  return 0;
}

int Help(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  if (argv.size() > 1) {
    for (size_t i = 1; i < argv.size(); ++i) {
      const Command* c = shell.Find(argv[i]);
      if (!c) {
        ctx.uart.Send("Unknown command '" + argv[i] +
                      "' - try 'help' without arguments for list of all known commands\n\n");
        return 1;
      }
      ctx.uart.Send(c->usage + "\n");
    }
    return 0;
  }
  for (const Command& c : shell.Commands()) ctx.uart.Send(c.usage + "\n");
  return 0;
}

int Version(UBootContext& ctx, Shell&, const std::vector<std::string>&) {
  ctx.uart.Send(std::string("\n") + kVersion + "\n");
  return 0;
}

}  // namespace

bool ParseHex(const std::string& text, uint32_t* value) {
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  if (i >= text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * 16 + d;
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

int PrintUsage(UBootContext& ctx, const Shell& shell, const std::string& name) {
  const Command* c = shell.Find(name);
  ctx.uart.Send("Usage:\n" + (c ? c->usage : name) + "\n");
  return 1;
}

std::vector<Command> EnvironmentCommands() {
  return {
      {"echo", "echo    - echo args to console", Echo},
      {"help", "help    - print online help", Help},
      {"printenv", "printenv- print environment variables", PrintEnv},
      {"run", "run     - run commands in an environment variable", Run},
      {"saveenv", "saveenv - save environment variables to persistent storage", SaveEnv, false},
      {"setenv", "setenv  - set environment variables", SetEnv, false},
      {"version", "version - print monitor version", Version},
  };
}

std::vector<Command> UBootCommands() {
  std::vector<Command> all = EnvironmentCommands();
  for (auto part : {NandCommands(), BootCommands(), NetworkCommands(), MemoryCommands()})
    all.insert(all.end(), part.begin(), part.end());
  std::sort(all.begin(), all.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
  return all;
}

}  // namespace sim
