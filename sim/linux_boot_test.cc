// The whole way from U-Boot's autoboot through the kernel to the login and the package update,
// with the environment the host programs; milestones checked against the host's time-outs.
#include <gtest/gtest.h>

#include "sim/uboot_commands.h"
#include "sim/uboot_memory.h"
#include "sim/uboot_shell.h"
#include "sim/uboot_test_support.h"

namespace sim {
namespace {

using testing::Idle;
using testing::kMs;
using testing::kSec;
using testing::ScriptedUart;

// Types each reply once its cue has appeared (after the previous cue), one character per 10 ms.
struct Operator {
  std::vector<std::pair<std::string, std::string>> script;
  size_t next = 0;
  size_t from = 0;
  void operator()(ScriptedUart& uart) {
    if (next >= script.size()) return;
    const size_t at = uart.output.find(script[next].first, from);
    if (at == std::string::npos) return;
    from = at + script[next].first.size();
    uart.Type(script[next++].second, uart.now + 10 * kMs);
  }
};

// The boot watch's milestones after the UBL's: text and time-out from the one before.
const std::vector<std::pair<std::string, Micros>> kMilestones = {
    {"Starting kernel ...", 20 * kSec},
    {"Uncompressing Linu", 10 * kSec},
    {"Console:", 10 * kSec},
    {"Serial", 20 * kSec},
    {"Initializing USB Mass Storage driver...", 10 * kSec},
    {"IP-Config:", 10 * kSec},
    {"Waiting 4sec before", 10 * kSec},
    {"INIT:", 20 * kSec},
    {"Loading modules:", 25 * kSec},
    {"Loading UCI...", 20 * kSec},
    {"Starting network interfaces:", 20 * kSec},
    {"INIT: Entering runlevel:", 20 * kSec},
    {"MontaVista(R) Linux(R) Professional Edition 4.0", 60 * kSec},
    {"login:", 5 * kSec},
};

class LinuxBootTest : public ::testing::Test {
 protected:
  // The board as the host leaves it: its environment saved, the kernel in the ten slots.
  void SetUp() override {
    ScriptedUart setup;
    Environment env;
    UBootContext ctx{setup, board, env};
    Shell shell(ctx, UBootCommands());
    for (const std::string& command : testing::HostEnvironmentCommands()) shell.Run(command);
    shell.Run("setenv serialno QV4N150101XXX; setenv ethaddr 02:1B:4D:00:00:00; saveenv");
    kernel = testing::MakeUImage(1900000);
    WriteRam(board.ram, kRamLoadAddress, kernel);
    ASSERT_EQ(shell.Run("run make_nand_kernel_clones"), 0);
    board.ram.clear();
    board.events.clear();
  }

  void Boot() {
    uart.peer = std::ref(op);
    EXPECT_THROW(RunUBoot(uart, board), Idle);
  }

  // Each milestone in order, each within its time-out of the one before.
  void ExpectMilestones() {
    size_t at = 0;
    Micros last = 0;
    for (const auto& [text, timeout] : kMilestones) {
      const size_t found = uart.output.find(text, at);
      ASSERT_NE(found, std::string::npos) << text;
      const Micros time = uart.TimeOf(text, at);
      EXPECT_LE(time - last, timeout) << text;
      EXPECT_GE(time - last, 200 * kMs) << text;  // none comes at once
      last = time;
      at = found + text.size();
    }
  }

  ScriptedUart uart;
  BoardState board;
  Operator op;
  std::vector<uint8_t> kernel;
};

TEST_F(LinuxBootTest, AutobootFallsBackToNandAndReachesTheLogin) {
  Boot();
  ExpectMilestones();
  EXPECT_NE(uart.output.find("** File not found /boot/uImage\n"), std::string::npos);
  EXPECT_NE(uart.output.find("Try boot from NAND\n"), std::string::npos);
  EXPECT_NE(uart.output.find("Kernel command line: mem=120M console=ttyS0,115200n8 root=/dev/mmcblk0p1 rw "
                             "rootfstype=ext3 rootwait rootdelay=4 nohz=off noinitrd eth=02:1B:4D:00:00:00 "
                             "init=/sbin/init ip=192.168.102.30:192.168.102.134:192.168.102.60:255.255.255.0:::off\n"),
            std::string::npos);
  EXPECT_TRUE(uart.output.size() > 8 && uart.output.compare(uart.output.size() - 14, 14, "brenlo login: ") == 0);
}

TEST_F(LinuxBootTest, KernelOnTheCardBootsFirst) {
  board.mmc.files["/boot/uImage"] = kernel;
  Boot();
  ExpectMilestones();
  EXPECT_NE(uart.output.find("Loading file \"/boot/uImage\" from mmc device 0:1 (xxa1)\n1900064 bytes read\n"),
            std::string::npos);
  EXPECT_EQ(uart.output.find("Try boot from NAND"), std::string::npos);
}

TEST_F(LinuxBootTest, DamagedKernelsDoNotBoot) {
  // try_boot_kernel tries the ten copies one by one: all must be damaged.
  for (uint32_t slot : {0x200000u, 0x3200000u, 0x3600000u, 0x4000000u, 0x4400000u, 0x4800000u, 0x5200000u,
                        0x5600000u, 0x6000000u, 0x6400000u}) {
    std::vector<uint8_t> bad = kernel;
    bad[5000] ^= 0xFF;
    board.nand.Erase(slot, 0x400000);
    board.nand.Program(slot, bad);
  }
  Boot();
  EXPECT_EQ(uart.Count("Verifying Checksum ... Bad Data CRC\n"), 10u);
  EXPECT_EQ(uart.output.find("Starting kernel"), std::string::npos);
}

TEST_F(LinuxBootTest, EnvironmentTyposStopTheBootWhereTheRealOneWould) {
  // No rootdelay: the kernel never says it waits; a console typo: it says nothing at all.
  Environment env = *Environment::FromBlock(board.nand.Read(kUbootEnvOffset, kUbootEnvSize));
  env.Set("mmcrootfstype", "ext3 rootwait rootdelay4");
  board.nand.Erase(kUbootEnvOffset, kUbootEnvSize);
  board.nand.Program(kUbootEnvOffset, env.ToBlock());
  Boot();
  EXPECT_EQ(uart.output.find("Waiting 4sec before"), std::string::npos);
  EXPECT_NE(uart.output.find("login:"), std::string::npos);

  ScriptedUart second;
  env.Set("bootmmc2", "setenv bootargs console=ttyS1,115200n8 root=$mmcroot; run try_boot_kernel");
  board.nand.Erase(kUbootEnvOffset, kUbootEnvSize);
  board.nand.Program(kUbootEnvOffset, env.ToBlock());
  EXPECT_THROW(RunUBoot(second, board), Idle);
  EXPECT_NE(second.output.find("Uncompressing Linux"), std::string::npos);
  EXPECT_EQ(second.output.find("Console:"), std::string::npos);
}

TEST_F(LinuxBootTest, PanicAndMissingMilestoneFaults) {
  board.faults.panicAtMilestone = 13;
  Boot();
  EXPECT_NE(uart.output.find("INIT: version"), std::string::npos);
  EXPECT_NE(uart.output.find("kernel panic"), std::string::npos);
  EXPECT_EQ(uart.output.find("Loading modules:"), std::string::npos);
  EXPECT_EQ(uart.output.find("login:"), std::string::npos);

  ScriptedUart second;
  board.faults = Faults();
  board.faults.missingMilestone = 11;
  EXPECT_THROW(RunUBoot(second, board), Idle);
  EXPECT_EQ(second.output.find("Waiting 4sec before"), std::string::npos);
  EXPECT_NE(second.output.find("INIT: version"), std::string::npos);
  EXPECT_NE(second.output.find("brenlo login: "), std::string::npos);
}

TEST_F(LinuxBootTest, LoginAndPackageUpdate) {
  op.script = {{"login: ", "root\n"},
               {"Password: ", "brenlo\n"},
               {":~# ", "export http_proxy=http://10.1.2.3:3128\n\n"},
               {":~# ", "apt-get update && apt-get install linux-kernel-modules\n"},
               {"Do you want to continue? [Y/n] ", "y\n"},
               {":~# ", "apt-get install linux-kernel-modules\n"}};
  Boot();
  const std::vector<std::string> order = {
      "Password: ",  "root@brenlo:~# ",
      "Reading Package Lists... Done\n", "Building Dependency Tree... Done\n",
      "The following extra packages will be installed:\n", "Do you want to continue? [Y/n] y\n",
      "Preparing...", "Done.\n", "root@brenlo:~# ",
      "linux-kernel-modules is already the newest version.\n"};
  size_t at = 0;
  for (const std::string& text : order) {
    const size_t found = uart.output.find(text, at);
    ASSERT_NE(found, std::string::npos) << text;
    at = found;
  }
  EXPECT_EQ(uart.output.find("brenlo\n"), std::string::npos);  // the password is not echoed
  const Micros question = uart.TimeOf("Do you want to continue?");
  EXPECT_LE(question - uart.TimeOf("Building Dependency Tree"), 5 * kSec);
  EXPECT_LE(uart.TimeOf("Done.\n") - question, 20 * kSec);
  const auto& ev = board.events;
  EXPECT_NE(std::find(ev.begin(), ev.end(), "linux: apt-get install, http_proxy=http://10.1.2.3:3128"), ev.end());
}

TEST_F(LinuxBootTest, LoginFaults) {
  board.faults.wrongPassword = true;
  op.script = {{"login: ", "root\n"}, {"Password: ", "brenlo\n"}};
  Boot();
  EXPECT_NE(uart.output.find("Password: \n\nLogin incorrect\n\nbrenlo login: "), std::string::npos);
  EXPECT_EQ(uart.output.find(":~#"), std::string::npos);

  ScriptedUart second;
  Operator direct;
  direct.script = {{"login: ", "root\n"}, {":~# ", "\n"}};
  second.peer = std::ref(direct);
  board.faults = Faults();
  board.faults.noPassword = true;
  board.login.motd = "Line 3: <b>keep the jig closed</b>";  // the board's /etc/motd, as it stands
  EXPECT_THROW(RunUBoot(second, board), Idle);
  EXPECT_EQ(second.output.find("Password:"), std::string::npos);
  EXPECT_EQ(second.Count("root@brenlo:~# "), 2u);
  EXPECT_EQ(second.Count("Edition 4.0.1\n\nLine 3: <b>keep the jig closed</b>\nroot@brenlo:~# "), 1u);
}

TEST_F(LinuxBootTest, PackageManagerFaults) {
  const auto run = [&](Faults faults, const std::string& answer) {
    board.faults = faults;
    ScriptedUart u;
    Operator o;
    o.script = {{"login: ", "root\n"}, {"Password: ", "brenlo\n"},
                {":~# ", "apt-get update && apt-get install linux-kernel-modules\n"},
                {"[Y/n] ", answer}};
    u.peer = std::ref(o);
    EXPECT_THROW(RunUBoot(u, board), Idle);
    return u.output.substr(u.output.find("apt-get update"));
  };
  Faults newest;
  newest.alreadyNewest = true;
  std::string out = run(newest, "y\n");
  EXPECT_NE(out.find("linux-kernel-modules is already the newest version.\n"), std::string::npos);
  EXPECT_EQ(out.find("Do you want"), std::string::npos);
  Faults noExtra;
  noExtra.noExtraPackages = true;
  out = run(noExtra, "y\n");
  EXPECT_EQ(out.find("The following extra packages will be installed:"), std::string::npos);
  EXPECT_NE(out.find("Done.\n"), std::string::npos);
  Faults download;
  download.downloadFail = true;
  out = run(download, "y\n");
  EXPECT_NE(out.find("Failed to fetch"), std::string::npos);
  EXPECT_EQ(out.find("Preparing..."), std::string::npos);
  out = run(Faults(), "n\n");
  EXPECT_NE(out.find("Abort.\n"), std::string::npos);
  EXPECT_EQ(out.find("Preparing..."), std::string::npos);
}

}  // namespace
}  // namespace sim
