#include "host/sequence/system_boot.h"

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"
#include "host/platform/console.h"

namespace {

// One thing the target must say in time: a line holding okText within timeoutMs of the previous
// one, unless a line holding failText comes first.
struct ConsoleWait {
  const char* failText;
  const char* okText;
  uint32_t timeoutMs;
};

// A panic ends the boot watch at once. A real kernel says "Kernel panic - not syncing: ...";
// the lower-case form is looked for too.
constexpr char kPanic[] = "kernel panic";
constexpr char kKernelPanic[] = "Kernel panic";

// From the break to the login prompt: the UBL, U-Boot's autoboot, the kernel and init. The boot
// ROM's "BOOTME" (without its leading space) means the board never got past it.
constexpr ConsoleWait kBootMilestones[] = {
    {"BOOTME", "UBL Version:", 5000},
    {"Bad", "Valid", 5000},
    {"FAIL", "DONE", 5000},
    {"BOOTME", "NAND", 5000},
    {"BOOTME", "Starting kernel ...", 20000},
    {"BOOTME", "Uncompressing Linu", 10000},
    {kPanic, "Console:", 10000},
    {kPanic, "Serial", 20000},
    {kPanic, "Initializing USB Mass Storage driver...", 10000},
    {kPanic, "IP-Config:", 10000},
    {kPanic, "Waiting 4sec before", 10000},
    {kPanic, "INIT:", 20000},
    {kPanic, "Loading modules:", 25000},
    {kPanic, "Loading UCI...", 20000},
    {kPanic, "Starting network interfaces:", 20000},
    {kPanic, "INIT: Entering runlevel:", 20000},
    {kPanic, "MontaVista(R) Linux(R) Professional Edition 4.0", 60000},
    {kPanic, "login:", 5000},
};

// apt-get up to its confirmation question. An up-to-date package ends the install before the
// extra packages are listed, so that wait fails on it.
constexpr ConsoleWait kPackageListWaits[] = {
    {"Fail", "Reading Package Lists... Done", 60000},
    {"Fail", "Building Dependency Tree... Done", 60000},
    {"linux-kernel-modules is already the newest version.",
     "The following extra packages will be installed:", 60000},
    {"Fail", "Do you want to continue? [Y/n]", 5000},
};

// After the "y": the package is fetched, unpacked and installed.
constexpr ConsoleWait kInstallWaits[] = {
    {"Fail", "Preparing...", 20000},
    {"Fail", "Done.", 20000},
};

// The break (500 ms) restarts the board; a pause as long again before its output is watched.
constexpr uint32_t kAfterBreakMs = 500;
// The login's answers to the password and shell prompt questions come at once or not at all.
constexpr uint32_t kLoginAnswerMs = 5000;
// User name and password: one word each, as the operator types it.
constexpr size_t kMaxCredential = 254;
// The proxy answer, its line end included when it fits.
constexpr size_t kMaxProxyLine = 63;

constexpr char kInstallCommand[] = "apt-get update && apt-get install linux-kernel-modules\n";

template <size_t N>
bool WaitForAll(const ConsoleWait (&waits)[N], RS232* port) {
  for (const ConsoleWait& wait : waits) {
    const char* alsoFails = wait.failText == kPanic ? kKernelPanic : nullptr;
    if (!WaitForText({wait.failText, alsoFails}, wait.okText, port, wait.timeoutMs)) return false;
  }
  return true;
}

void Prompt(const char* question) {
  SetConsoleColour(kColourHighlight);
  std::cout << question << std::flush;
  SetConsoleColour(kColourNormal);
}

// Ended input gives no user name or password to type: the login cannot go on.
bool ReadCredential(const char* question, bool secret, std::string* word) {
  Prompt(question);
  ConsoleInput& input = HostConsoleInput();
  const bool read =
      secret ? input.ReadSecretWord(word, kMaxCredential) : input.ReadWord(word, kMaxCredential);
  // A password typed without echo leaves the cursor after the question.
  if (secret) std::cout << std::endl;
  if (!read) std::cout << std::endl << "Error: cannot read the operator's answer." << std::endl;
  return read;
}

// The user name, then the password if the target asks for one, then the shell prompt. The
// credentials go from the console to the target and nowhere else.
int LogIn(RS232* port) {
  std::string user;
  if (!ReadCredential("Enter you login:", false, &user)) return 0;
  Type(port, user + "\n");

  if (WaitForText(":~#", "Password:", port, kLoginAnswerMs)) {
    std::string password;
    if (!ReadCredential("Enter you password:", true, &password)) return 0;
    Type(port, password + "\n");
  } else {
    // Logged in without a password (or the target kept quiet): a line end brings the prompt.
    Type(port, "\n");
  }
  return WaitForText("BOOTME", ":~#", port, kLoginAnswerMs) ? 1 : 0;
}

int WatchOnOpenPort(RS232* port) {
  port->pacedWrite = 1;
  port->SendBreak();
  HostClock().SleepMs(kAfterBreakMs);
  // Nothing is typed during the boot, so U-Boot's autoboot goes on to the kernel.
  if (!WaitForAll(kBootMilestones, port)) return 0;
  return LogIn(port);
}

// The proxy as typed, line end and all; ended input counts as an empty answer.
std::string ReadProxy() {
  // What was typed before the question is dropped before it shows: an answer begun as soon as it
  // shows is kept whole.
  ConsoleInput& input = HostConsoleInput();
  input.DiscardTypeAhead();
  Prompt("Enter proxy (http://ipaddr:port):");
  std::string proxy;
  if (!input.ReadLine(&proxy, kMaxProxyLine)) proxy.clear();
  return proxy;
}

int UpdateOnOpenPort(RS232* port) {
  port->pacedWrite = 1;
  // No break: the target waits at the shell prompt where the login left it.
  Type(port, "export http_proxy=" + ReadProxy() + "\n");
  Type(port, kInstallCommand);
  if (!WaitForAll(kPackageListWaits, port)) return 0;
  Type(port, "y\n");
  if (!WaitForAll(kInstallWaits, port)) return 0;
  std::cout << "Update completed successfully.\n";
  return 1;
}

// Opens the port, runs the step on it and closes it again on every path after the open.
int OnPort(const char* portName, int (*step)(RS232*)) {
  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  const int result = step(port.get());
  std::cout << std::endl;
  port->Close();
  return result;
}

}  // namespace

int WatchSystemBoot(const char* portName) { return OnPort(portName, WatchOnOpenPort); }

int UpdateKernelPackages(const char* portName) { return OnPort(portName, UpdateOnOpenPort); }
