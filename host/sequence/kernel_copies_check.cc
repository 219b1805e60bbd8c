#include "host/sequence/kernel_copies_check.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "host/link/kernel_check.h"
#include "host/link/kernel_upload.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/sequence/default_environment.h"

namespace {

constexpr char kPrompt[] = "B-Boot >";
constexpr uint32_t kNandPage = 2048;
// A slot of 4 MiB is read in about a second and erased and written in half of one.
constexpr uint32_t kNandTimeoutMs = 10000;
constexpr uint32_t kPromptTimeoutMs = 10000;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

// "kernel slot 2 of 10 (NAND offset 0x3200000)"
std::string SlotName(size_t index, const KernelSlots& slots) {
  return "kernel slot " + std::to_string(index + 1) + " of " + std::to_string(slots.offsets.size()) +
         " (NAND offset " + Hex(slots.offsets[index]) + ")";
}

// The value a "setenv NAME VALUE" line of the list gives NAME, its quotes taken off.
std::string ValueSet(const CommandList& commands, const std::string& name) {
  const std::string prefix = "setenv " + name + " ";
  for (const std::string& command : commands) {
    if (command.compare(0, prefix.size(), prefix) != 0) continue;
    std::string value = command.substr(prefix.size());
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::string();
}

// Whether the board's last words are its prompt, perhaps with blanks after it.
bool LastAtPrompt(const std::string& recent) {
  const size_t end = recent.find_last_not_of(' ');
  const size_t length = sizeof kPrompt - 1;
  return end != std::string::npos && end + 1 >= length && recent.compare(end + 1 - length, length, kPrompt) == 0;
}

// Every command here waits for U-Boot's prompt first: a command typed while the last one still
// prints (md looks for Ctrl-C after each line) could lose its first character to it.
bool AwaitPrompt(RS232* port) {
  return LastAtPrompt(port->RecentInput()) || WaitForText(nullptr, kPrompt, port, kPromptTimeoutMs);
}

bool TypeAtPrompt(RS232* port, const std::string& command) { return AwaitPrompt(port) && TypeCommand(port, command); }

enum class SlotState { kGood, kBad, kNoAnswer };

// Reads the slot into memory at kReadBackAddress and checks the image there. *words: what was wrong.
SlotState ReadBack(RS232* port, uint32_t offset, uint32_t readSize, const KernelImageHeader& header,
                   std::string* words) {
  std::vector<std::string> lines;
  const bool read = TypeAtPrompt(port, "nand read " + Hex(kReadBackAddress) + " " + Hex(offset) + " " + Hex(readSize)) &&
                    WaitForLine({"ERROR", "FAIL"}, "bytes read: OK", port, kNandTimeoutMs, &lines);
  if (!read) {
    const bool refused = !lines.empty() && lines.back().find("read: ") != std::string::npos;
    *words = refused ? "U-Boot could not read it" : "no answer to nand read";
    return refused ? SlotState::kBad : SlotState::kNoAnswer;
  }
  if (!AwaitPrompt(port)) {  // iminfo types its own line
    *words = "no prompt after nand read";
    return SlotState::kNoAnswer;
  }
  switch (CheckImageAt(port, header, kReadBackAddress, words)) {
    case ImageVerdict::kEqual:
      return SlotState::kGood;
    case ImageVerdict::kBad:
    case ImageVerdict::kOther:
      return SlotState::kBad;
    case ImageVerdict::kNoAnswer:
      break;
  }
  return SlotState::kNoAnswer;
}

// The slot erased and written again from the kernel at 0x80700000, as the clone script does.
bool Rewrite(RS232* port, uint32_t offset, uint32_t size) {
  const std::string at = Hex(offset) + " " + Hex(size);
  return TypeAtPrompt(port, "nand erase " + at) &&
         WaitForLine({"ERROR", "FAIL", "Bad block"}, "OK", port, kNandTimeoutMs) &&
         TypeAtPrompt(port, "nand write " + Hex(kKernelLoadAddress) + " " + at) &&
         WaitForLine({"ERROR", "FAIL", "Bad block"}, "written: OK", port, kNandTimeoutMs);
}

}  // namespace

KernelSlots ProgrammedKernelSlots() {
  CommandList commands;
  FillDefaultEnvironment(commands);
  KernelSlots slots;
  std::istringstream offsets(ValueSet(commands, "nand_kern_offs"));
  std::string word;
  while (offsets >> word) slots.offsets.push_back(static_cast<uint32_t>(std::strtoul(word.c_str(), nullptr, 16)));
  slots.size = static_cast<uint32_t>(std::strtoul(ValueSet(commands, "kernel_size").c_str(), nullptr, 16));
  return slots;
}

int ProveKernelCopies(RS232* port, const KernelSlots& slots) {
  uint32_t fileSize = 0;
  const KernelFile file = OpenKernelImage(&fileSize);
  if (!file) return 0;
  KernelImageHeader header;
  if (!ReadKernelImageHeader(file.get(), kKernelImageName, &header)) return 0;
  // Whole pages of the image: what iminfo checks, not the slot's empty rest.
  const uint32_t readSize = (fileSize + kNandPage - 1) / kNandPage * kNandPage;

  int rewritten = 0;
  for (size_t i = 0; i < slots.offsets.size(); ++i) {
    for (int writes = 0;; ++writes) {
      std::string words;
      const SlotState state = ReadBack(port, slots.offsets[i], readSize, header, &words);
      if (state == SlotState::kGood) break;
      if (state == SlotState::kNoAnswer) {
        ReportLine("Error: cannot check " + SlotName(i, slots) + ": " + words + ".");
        return 0;
      }
      if (writes == kKernelCopyRewrites) {
        ReportLine("Error: " + SlotName(i, slots) + " holds no good copy of " + kKernelImageName +
                   " after writing it again " + std::to_string(kKernelCopyRewrites) + " times (" + words + ").");
        return 0;
      }
      ReportLine("The copy in " + SlotName(i, slots) + " is bad (" + words + "); writing it again (" +
                 std::to_string(writes + 1) + " of " + std::to_string(kKernelCopyRewrites) + ").");
      if (!Rewrite(port, slots.offsets[i], slots.size)) {
        ReportLine("Error: cannot write " + SlotName(i, slots) + " again.");
        return 0;
      }
      ++rewritten;
    }
  }
  const std::string count = std::to_string(slots.offsets.size());
  ReportLine("Kernel copies checked: " + count + " of " + count + " equal to " + kKernelImageName +
             (rewritten > 0 ? " (" + std::to_string(rewritten) + " written again)." : "."));
  return 1;
}
