// What U-Boot hands the kernel, and how the board stops when it can go no further.
#pragma once

#include <optional>
#include <string>

#include "sim/firmware.h"
#include "sim/uboot_memory.h"

namespace sim {

// Where U-Boot leaves the kernel's boot tags (ATAG_CORE, ATAG_MEM, ATAG_CMDLINE, ATAG_NONE).
constexpr uint32_t kBootTagsAddress = 0x80000100u;

void WriteBootTags(Ram& ram, const std::optional<std::string>& commandLine);
// The kernel command line from the boot tags; nothing when there is none or the list is broken.
std::optional<std::string> ReadCommandLine(const Ram& ram);

// The line the simulated kernel prints when it panics (the panic fault).
constexpr const char* kKernelPanicLine = "kernel panic - not syncing: Attempted to kill init!\n";

// The board hangs: only a break (BoardReset out of Receive) gets it going again.
[[noreturn]] void Halt(Uart& uart);

}  // namespace sim
