// The subset of U-Boot's hush shell the boot environment uses: words with single and double
// quotes and backslashes, $name and ${name} (shell variables first, then the environment;
// unquoted expansions split at blanks), ';' and newline lists, && and ||, if/then/else/fi,
// for NAME in WORDS; do ...; done, and commands found by name or by an unambiguous prefix.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/firmware.h"
#include "sim/uboot_env.h"

namespace sim {

class Shell;

// What U-Boot's commands work on during one boot.
struct UBootContext {
  Uart& uart;
  BoardState& board;
  Environment& env;
  bool mmcReady = false;    // "mmc rescan" found the card
  unsigned nandWrites = 0;  // "nand write"s since the last typed line (clones=N counts them)
  // The line being run: whether an empty line may run it again (every command in it repeatable,
  // none unknown), whether it is such a repeat, and whether a command saw Ctrl-C.
  bool repeatable = true;
  bool repeating = false;
  bool interrupted = false;
  // Where a repeated md goes on: the next address, the object size and count of the last one.
  uint32_t mdAddress = 0;
  uint32_t mdSize = 4;
  uint32_t mdCount = 0x40;

  // U-Boot's ctrlc(): takes one waiting character, if there is one; true when it was Ctrl-C
  // (interrupted is set). Commands that run long call it as they go, so typed-ahead characters
  // are swallowed by them.
  bool CtrlC();
};

// A command returns 0 on success, anything else on failure (as U-Boot's commands do).
using CommandFunction =
    std::function<int(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv)>;

struct Command {
  std::string name;
  std::string usage;  // "nand read addr off size - ..."
  CommandFunction run;
  bool repeatable = true;  // an empty line at the prompt runs it again
};

// How a piece of script parsed.
enum class ParseResult { kComplete, kIncomplete, kSyntaxError };

class Shell {
 public:
  Shell(UBootContext& ctx, std::vector<Command> commands);
  ~Shell();

  // Whether text is a whole script, or still open (an unclosed quote, for or if): at the
  // prompt U-Boot then asks for more lines with "> ".
  static ParseResult Check(const std::string& text);
  // Parses and runs text; the status of the last command run, 1 on a syntax error.
  int Run(const std::string& text);

  // A command by its name or an unambiguous prefix; null when none or several fit. What follows a
  // dot is the command's own ("md.b" is md).
  const Command* Find(const std::string& name) const;
  const std::vector<Command>& Commands() const { return commands_; }
  // $name as the shell sees it: a shell variable (for's loop variable), else the environment.
  std::string Variable(const std::string& name) const;
  // Guards run against endless recursion.
  int depth = 0;

  struct Node;  // a parsed script

 private:
  int Execute(const Node& node);
  int ExecuteSimple(const Node& node);
  std::vector<std::string> ExpandWords(const Node& node) const;

  UBootContext& ctx_;
  std::vector<Command> commands_;
  std::map<std::string, std::string> locals_;
  int lastStatus_ = 0;
};

}  // namespace sim
