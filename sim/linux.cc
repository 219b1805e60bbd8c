// The kernel's and init's boot on the console: the milestones the host's boot watch follows, each
// after a realistic pause, shaped by the command line U-Boot passed in the boot tags.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "sim/firmware.h"
#include "sim/linux_boot.h"
#include "sim/linux_shell.h"

namespace sim {

namespace {

constexpr Micros kMs = 1000;

// The kernel command line as name -> value ("rw" -> "").
std::map<std::string, std::string> Parameters(const std::string& commandLine) {
  std::map<std::string, std::string> params;
  std::istringstream words(commandLine);
  std::string word;
  while (words >> word) {
    const size_t eq = word.find('=');
    params[word.substr(0, eq)] = eq == std::string::npos ? "" : word.substr(eq + 1);
  }
  return params;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

class KernelBoot {
 public:
  KernelBoot(Uart& uart, BoardState& board) : uart_(uart), board_(board) {}

  // Milestone k of the boot watch (6 to 18 are the kernel's and init's), after a pause; the
  // panic and missing faults replace or drop it.
  void Milestone(int k, Micros pause, const std::string& text) {
    uart_.Delay(pause);
    if (board_.faults.panicAtMilestone == k) {
      uart_.Send(kKernelPanicLine);
      board_.events.push_back("linux: kernel panic at milestone " + std::to_string(k));
      Halt(uart_);
    }
    if (board_.faults.missingMilestone != k) uart_.Send(text);
  }

  void Run() {
    Milestone(6, 1200 * kMs,
              "Uncompressing Linux.............................................. done, booting the kernel.\n");
    const auto commandLine = ReadCommandLine(board_.ram);
    params_ = Parameters(commandLine.value_or(""));
    // Without the serial console on the command line the kernel says nothing more here.
    if (params_["console"].compare(0, 12, "ttyS0,115200") != 0) {
      board_.events.push_back("linux: no console on ttyS0");
      Halt(uart_);
    }
    uart_.Send(
        "Linux version 2.6.10_mvl401-davinci_evm (build@brenlo) (gcc version 3.4.3 (MontaVista "
        "3.4.3-25.0.70.0501961 2005-12-18)) #1 Tue Mar 9 10:12:41 CET 2010\n"
        "CPU: ARM926EJ-S [41069265] revision 5 (ARMv5TEJ)\nMachine: DaVinci EVM\n"
        "Memory policy: ECC disabled, Data cache writeback\nBuilt 1 zonelists\n"
        "Kernel command line: " + commandLine.value_or("") + "\n");
    Milestone(7, 300 * kMs, "Console: colour dummy device 80x30\n");
    const std::string mem = params_.count("mem") ? params_["mem"] : "128M";
    uart_.Send("Memory: " + mem + "B = " + mem + "B total\n");
    Milestone(8, 1000 * kMs,
              "Serial: 8250/16550 driver $Revision: 1.90 $ 2 ports, IRQ sharing disabled\n");
    uart_.Send("ttyS0 at MMIO 0x1c20000 (irq = 40) is a 16550A\n");
    const std::string mac = params_["eth"];
    uart_.Send(mac.empty() ? "eth0: no MAC address given, using a random one\n"
                           : "eth0: MAC address " + mac + "\n");
    Milestone(9, 1500 * kMs, "Initializing USB Mass Storage driver...\n");
    uart_.Send("usbcore: registered new driver usb-storage\nUSB Mass Storage support registered.\n");
    if (board_.mmc.present) uart_.Send("mmcblk0: mmc0:0001 SD02G 1985024KiB\n mmcblk0: p1 p2\n");
    NetworkConfiguration();
    MountRoot();
    Milestone(12, 500 * kMs, "INIT: version 2.86 booting\n");
    Milestone(13, 6000 * kMs, "Loading modules: davinci_emac dm350mmc\n");
    Milestone(14, 4000 * kMs, "Loading UCI...\n");
    Milestone(15, 3000 * kMs, "Starting network interfaces: done.\n");
    Milestone(16, 2000 * kMs, "INIT: Entering runlevel: 3\n");
    Milestone(17, 8000 * kMs, "\nMontaVista(R) Linux(R) Professional Edition 4.0.1 (0600980)\n\n");
    Milestone(18, 1000 * kMs, std::string(kHostName) + " login: ");
    board_.events.push_back("linux: login prompt");
    RunLinuxConsole(uart_, board_, board_.faults.missingMilestone != 18);
  }

 private:
  // ip=client:server:gateway:netmask:host:device:autoconf; without it the kernel configures
  // nothing and says nothing.
  void NetworkConfiguration() {
    if (!params_.count("ip")) {
      uart_.Delay(1000 * kMs);
      return;
    }
    const std::vector<std::string> ip = Split(params_["ip"], ':');
    if (ip.size() < 4 || ip[0].empty()) {
      Milestone(10, 1000 * kMs, "IP-Config: Incomplete network configuration information.\n");
      return;
    }
    Milestone(10, 1000 * kMs,
              "IP-Config: Complete:\n      device=eth0, addr=" + ip[0] + ", mask=" + ip[3] +
                  ", gw=" + ip[2] + ",\n     host=" + ip[0] +
                  ", domain=, nis-domain=(none),\n     bootserver=" + ip[1] +
                  ", rootserver=" + ip[1] + ", rootpath=\n");
  }

  // rootdelay=N waits N seconds (and says so); the root must be a partition of the card with
  // an ext2 or ext3 file system.
  void MountRoot() {
    if (params_.count("rootdelay")) {
      const int seconds = std::atoi(params_["rootdelay"].c_str());
      Milestone(11, 200 * kMs,
                "Waiting " + std::to_string(seconds) + "sec before mounting root device...\n");
      uart_.Delay(static_cast<Micros>(seconds) * 1000 * kMs);
    }
    const std::string root = params_["root"];
    const bool partition = root == "/dev/mmcblk0p1" || root == "/dev/mmcblk0p2";
    if (partition && !board_.mmc.present && params_.count("rootwait")) {
      uart_.Send("Waiting for root device " + root + "...\n");
      Halt(uart_);
    }
    bool ext = !params_.count("rootfstype");
    for (const std::string& type : Split(params_["rootfstype"], ','))
      ext = ext || type == "ext3" || type == "ext2";
    if (!partition || !board_.mmc.present || !ext) {
      uart_.Send("VFS: Cannot open root device \"" + root +
                 "\" or unknown-block(0,0)\nPlease append a correct \"root=\" boot option\n"
                 "Kernel panic - not syncing: VFS: Unable to mount root fs on unknown-block(0,0)\n");
      board_.events.push_back("linux: cannot mount root " + root);
      Halt(uart_);
    }
    uart_.Send("kjournald starting.  Commit interval 5 seconds\nEXT3 FS on " + root.substr(5) +
               ", internal journal\nVFS: Mounted root (ext3 filesystem).\nFreeing init memory: 132K\n");
  }

  Uart& uart_;
  BoardState& board_;
  std::map<std::string, std::string> params_;
};

}  // namespace

void RunLinux(Uart& uart, BoardState& board) {
  uart.SetPolled(false);  // the serial driver takes every character by interrupt into its buffer
  uart.SetCrBeforeLf(true);  // the tty sends each line feed as CR LF (onlcr)
  board.events.push_back("linux: started");
  KernelBoot(uart, board).Run();
}

}  // namespace sim
