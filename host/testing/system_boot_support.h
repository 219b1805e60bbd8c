// Test support for the boot watch and the package update: a simulated board as a flashing run
// leaves it (boot loaders, the saved environment, the kernel in its ten slots), the console and the
// log file captured, and the moments the host read the target's texts.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/log_file.h"
#include "host/sequence/default_environment.h"
#include "host/testing/console_log_capture.h"
#include "host/testing/kernel_upload_support.h"
#include "host/testing/scripted_console.h"
#include "host/testing/simulated_target.h"
#include "sim/images.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_memory.h"
#include "sim/uboot_shell.h"
#include "sim/uboot_test_support.h"

namespace system_boot_test {

constexpr char kUser[] = "root";  // the shell prompt the login waits for is root's ":~#"
constexpr char kPassword[] = "Pw-7734x";
constexpr char kInstallCommand[] = "apt-get update && apt-get install linux-kernel-modules\n";

// The milestones of the boot watch after the break: the text each waits for and its time-out.
struct Milestone {
  const char* text;
  uint32_t timeoutMs;
};
constexpr Milestone kMilestones[18] = {
    {"UBL Version:", 5000},
    {"Valid", 5000},
    {"DONE", 5000},
    {"NAND", 5000},
    {"Starting kernel ...", 20000},
    {"Uncompressing Linu", 10000},
    {"Console:", 10000},
    {"Serial", 20000},
    {"Initializing USB Mass Storage driver...", 10000},
    {"IP-Config:", 10000},
    {"Waiting 4sec before", 10000},
    {"INIT:", 20000},
    {"Loading modules:", 25000},
    {"Loading UCI...", 20000},
    {"Starting network interfaces:", 20000},
    {"INIT: Entering runlevel:", 20000},
    {"MontaVista(R) Linux(R) Professional Edition 4.0", 60000},
    {"login:", 5000},
};

// The board's U-Boot environment as the host types it, with an identity, and the kernel copied
// into its slots by the environment's own script, as steps 4 to 6 leave the board; alsoTyped is
// typed after the list, before the environment is saved.
inline void FlashBoard(sim::BoardState& board, const std::string& alsoTyped = "") {
  sim::InstallBootLoaders(board.nand);
  sim::testing::ScriptedUart uart;
  sim::Environment env;
  sim::UBootContext ctx{uart, board, env};
  sim::Shell shell(ctx, sim::UBootCommands());
  CommandList commands;
  FillDefaultEnvironment(commands);
  for (const std::string& command : commands) shell.Run(command);
  if (!alsoTyped.empty()) shell.Run(alsoTyped);
  shell.Run("setenv serialno QV4N150101ABC; setenv ethaddr 02:1B:4D:12:34:56; saveenv");
  sim::WriteRam(board.ram, sim::kRamLoadAddress, sim::MakeUImage(1500000, "Linux test"));
  ASSERT_EQ(shell.Run("run make_nand_kernel_clones"), 0) << uart.output;
  board.ram.clear();
  board.events.clear();
}

inline sim::BoardOptions BoardWith(void (*set)(sim::Faults&) = nullptr) {
  sim::BoardOptions options;
  options.login.user = kUser;
  options.login.password = kPassword;
  if (set) set(options.faults);
  return options;
}

inline bool HasEvent(const sim::BoardState& board, const std::string& event) {
  for (const std::string& e : board.events)
    if (e == event) return true;
  return false;
}

// Where each milestone was read, in order, each searched after the one before; stops at the first
// that never came. The times are those of the host's clock when the text was complete.
inline std::vector<uint32_t> MilestoneTimes(const kernel_upload_test::LineRecord& record) {
  std::string all;
  std::vector<uint32_t> times;
  for (const kernel_upload_test::TimedBytes& r : record.reads) {
    all += r.bytes;
    times.insert(times.end(), r.bytes.size(), r.atMs);
  }
  std::vector<uint32_t> found;
  size_t at = 0;
  for (const Milestone& m : kMilestones) {
    const size_t hit = all.find(m.text, at);
    if (hit == std::string::npos) break;
    at = hit + std::string(m.text).size();
    found.push_back(times[at - 1]);
  }
  return found;
}

// The console and the log file of the code under test, and the board behind "REC1".
class BoardConsoleTest : public ConsoleLogCaptureTest {
 protected:
  BoardConsoleTest() : ConsoleLogCaptureTest("system_boot_test.log") {}
  std::string Console() const { return console_.str(); }
};

}  // namespace system_boot_test
