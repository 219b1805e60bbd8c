// BrenloFix: flashes a Brenlo board over its serial console. Run it in the folder that holds
// sft_DM6446_NAND.bin, ubl_DM6446_NAND.bin, uboot.large.bin and uImage; the log of the run is
// written there too.
#include <iostream>
#include <string>

#include "host/link/log_file.h"
#include "host/platform/timer_resolution.h"
#include "host/platform/utc_time.h"
#include "host/sequence/banner.h"
#include "host/sequence/command_line.h"
#include "host/sequence/containers.h"
#include "host/sequence/default_environment.h"
#include "host/sequence/operator_dialogue.h"
#include "host/sequence/run_log.h"
#include "host/sequence/step_machine.h"
#include "host/sequence/step_operations.h"

namespace {
constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
}  // namespace

int main(int argc, char* argv[]) {
  // Paced typing pauses 10 ms per character; Windows needs a 1 ms timer for that.
  ScopedTimerResolution timerResolution;

  OptionMap options;
  SwitchSet switches;
  CommandList commands;

  PrintBanner();
  FillDefaultEnvironment(commands);

  // A bad command line, or -h: the help text and one key.
  bool helpAsked = false;
  if (!ParseCommandLine(argc, argv, options, switches, &helpAsked)) {
    PrintUsage();
    std::cout << std::endl;
    WaitForAnyKey();
    return helpAsked ? kExitSucceeded : kExitFailed;
  }
  // A bad MAC address or serial number ends the run at once; its error line is printed.
  if (!ValidateOptions(options)) return kExitFailed;

  // The TFTP server is no identity value: it leaves the option map before the steps see it.
  std::string tftpServer;
  const auto server = options.find("serverip");
  if (server != options.end()) {
    tftpServer = server->second;
    options.erase(server);
  }

  CreateRunLog(LogFileName(CurrentUtcTime()));

  // Find the board, back up its identity, flash, program, upload, clone, boot, update.
  BoardStepOperations board(tftpServer);
  const bool succeeded = RunSteps(board, options, switches, commands);

  CloseLogFile();
  return succeeded ? kExitSucceeded : kExitFailed;
}
