// BrenloFix: flashes a Brenlo board over its serial console. Run it in the folder that holds
// sft_DM6446_NAND.bin, ubl_DM6446_NAND.bin, uboot.large.bin and uImage; the log of the run is
// written there too.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "host/link/log_file.h"
#include "host/link/target_console.h"
#include "host/platform/timer_resolution.h"
#include "host/platform/utc_time.h"
#include "host/sequence/banner.h"
#include "host/sequence/command_line.h"
#include "host/sequence/containers.h"
#include "host/sequence/default_environment.h"
#include "host/sequence/operator_dialogue.h"
#include "host/sequence/run_log.h"
#include "host/sequence/run_report.h"
#include "host/sequence/station_options.h"
#include "host/sequence/step_machine.h"
#include "host/sequence/step_operations.h"
#include "host/sequence/unattended_console.h"

namespace {
constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;

std::optional<std::string> PasswordFromEnvironment() {
  const char* password = std::getenv(kPasswordVariable);
  if (!password) return std::nullopt;
  return std::string(password);
}

// The record of a run that ended with this status; a record that cannot be written fails the run.
int Finish(const RunReport& report, const StationOptions& station, int status) {
  if (station.reportPath.empty()) return status;
  return report.Write(station.reportPath, status, CurrentUtcTime()) ? status : kExitFailed;
}
}  // namespace

int main(int argc, char* argv[]) {
  // Paced typing pauses 10 ms per character; Windows needs a 1 ms timer for that.
  ScopedTimerResolution timerResolution;

  OptionMap options;
  SwitchSet switches;
  CommandList commands;
  StationOptions station;

  PrintBanner();
  FillDefaultEnvironment(commands);

  // A bad command line, or -h: the help text and one key (none in an unattended run).
  bool helpAsked = false;
  if (!ParseCommandLine(argc, argv, options, switches, &helpAsked, &station)) {
    PrintUsage();
    std::cout << std::endl;
    if (!UnattendedAsked(argc, argv)) WaitForAnyKey();
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
  // How commands are typed at U-Boot's prompt, for the whole run; neither is it an identity value.
  const auto typing = options.find("typing");
  if (typing != options.end()) {
    SetUBootTyping(typing->second == "echo" ? UBootTyping::kEcho : UBootTyping::kPaced);
    options.erase(typing);
  }

  const UtcTime started = CurrentUtcTime();
  RunReport report(started);
  report.RecordImages();
  // An unattended run without an answer it will need ends before anything is sent to the board.
  const std::optional<std::string> password = PasswordFromEnvironment();
  const std::string missing = MissingUnattendedAnswer(switches, station, password);
  if (!missing.empty()) {
    std::cout << missing << std::endl;
    report.SetError(missing);
    return Finish(report, station, kExitFailed);
  }
  UnattendedConsole answers(station.login, password, station.proxy);
  if (station.unattended) answers.Install();

  const std::string logName = CreateRunLog(started);
  if (!logName.empty()) report.SetLog(logName);

  // Find the board, back up its identity, flash, program, upload, clone, boot, update.
  BoardStepOperations board(tftpServer);
  RunSettings settings;
  settings.unattended = station.unattended ? &answers : nullptr;
  settings.retries = station.retries;
  settings.report = &report;
  const bool succeeded = RunSteps(board, options, switches, commands, settings);

  CloseLogFile();
  return Finish(report, station, succeeded ? kExitSucceeded : kExitFailed);
}
