#include "host/sequence/environment_programming.h"

#include <iostream>
#include <memory>
#include <string>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"
#include "host/sequence/identity_record.h"

namespace {

constexpr uint32_t kBootStageTimeoutMs = 10000;
constexpr uint32_t kCommandPauseMs = 500;
constexpr uint32_t kSaveTimeoutMs = 10000;
constexpr uint32_t kCloneTimeoutMs = 10000;
constexpr int kKernelClones = 10;

void Type(RS232* port, const std::string& text) {
  port->Write(text.data(), static_cast<uint32_t>(text.size()), nullptr, 0);
}

// From the break to the U-Boot prompt; the countdown is stopped by typing line ends.
bool CatchBootAtPrompt(RS232* port) {
  if (!WaitForText(" BOOTME", "UBL Version:", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText("Bad", "Valid", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText("FAIL", "DONE", port, kBootStageTimeoutMs)) return false;
  if (!WaitForText(" BOOTME", "NAND", port, kBootStageTimeoutMs)) return false;
  Type(port, "\r\n\r\n");
  if (!WaitForText(" BOOTME", "Hit any key to stop autoboot:", port, kBootStageTimeoutMs)) return false;
  return WaitForText("BOOTME", "B-Boot >", port, kBootStageTimeoutMs);
}

// Types the list without reading: the echo and U-Boot's answers queue up in the receive buffer
// and the final wait reads through them.
void TypeCommands(RS232* port, const CommandList& commands) {
  const unsigned count = static_cast<unsigned>(commands.size());
  for (unsigned i = 0; i < count; ++i) {
    HostClock().SleepMs(kCommandPauseMs);
    Type(port, commands[i]);
    Type(port, "\r\n");
    ShowProgress(TypingPercent(i, count));
  }
}

// The identity lines of the list, as U-Boot now holds them.
OptionMap IdentityTyped(const CommandList& commands) {
  OptionMap identity;
  for (const char* name : {"serialno", "ethaddr"}) {
    const std::string prefix = std::string("setenv ") + name + " ";
    for (const std::string& command : commands) {
      if (command.compare(0, prefix.size(), prefix) == 0) identity[name] = command.substr(prefix.size());
    }
  }
  return identity;
}

int ProgramOnOpenPort(RS232* port, const CommandList& commands) {
  port->pacedWrite = 1;
  port->SendBreak();
  if (!CatchBootAtPrompt(port)) return 0;
  std::cout << "\n\t\t\tSetting U-Boot Enviroment.." << std::endl;
  TypeCommands(port, commands);
  std::cout << std::endl;
  if (!WaitForText(nullptr, "Writing to Nand... done", port, kSaveTimeoutMs)) return 0;
  std::cout << std::endl;
  // Saved: a record of what the unit has become.
  const OptionMap identity = IdentityTyped(commands);
  if (!identity.empty()) LogProgrammedIdentity(identity);
  return 1;
}

int CountClones(RS232* port) {
  Type(port, "run make_nand_kernel_clones\r\n");
  for (int clone = 0; clone < kKernelClones; ++clone) {
    if (!WaitForText("FAIL", "written: OK", port, kCloneTimeoutMs)) return 0;
  }
  return 1;
}

}  // namespace

unsigned TypingPercent(unsigned index, unsigned count) {
  // A list of one command would divide by zero; its only command is the last.
  if (count <= 1) return 100;
  return index * 100u / (count - 1);
}

int ProgramEnvironment(const char* portName, const CommandList& commands) {
  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  int result = ProgramOnOpenPort(port.get(), commands);
  port->Close();
  return result;
}

int MakeKernelClones(const char* portName) {
  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  int result = CountClones(port.get());
  std::cout << std::endl;
  port->Close();
  return result;
}
