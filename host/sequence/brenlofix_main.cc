// BrenloFix: flashes a Brenlo board over its serial console. Run it in the folder that holds
// sft_DM6446_NAND.bin, ubl_DM6446_NAND.bin, uboot.large.bin and uImage; the log of the run is
// written there too.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "host/link/log_file.h"
#include "host/platform/interrupt.h"
#include "host/link/target_console.h"
#include "host/platform/console.h"
#include "host/platform/stop_gate.h"
#include "host/platform/timer_resolution.h"
#include "host/platform/utc_time.h"
#include "host/sequence/banner.h"
#include "host/sequence/command_line.h"
#include "host/sequence/containers.h"
#include "host/sequence/default_environment.h"
#include "host/sequence/operator_dialogue.h"
#include "host/sequence/console_tail.h"
#include "host/sequence/run_events.h"
#include "host/sequence/run_log.h"
#include "host/sequence/run_report.h"
#include "host/sequence/station_options.h"
#include "host/sequence/step_machine.h"
#include "host/sequence/step_operations.h"
#include "host/sequence/unattended_console.h"

namespace {
constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
// How long an interruption waits for a write or a break under way (a break lasts 500 ms).
constexpr uint32_t kStopWaitMs = 2000;

std::optional<std::string> PasswordFromEnvironment() {
  const char* password = std::getenv(kPasswordVariable);
  if (!password) return std::nullopt;
  return std::string(password);
}

// The run's end in its record; a record that cannot be written fails the run.
int Finish(RunReport& report, RunReport::Result result, int status) {
  return report.End(result, status) ? status : kExitFailed;
}

// A command line that was refused (or -h): its record says so before the help text and the key
// wait, and its events (when asked for and possible) say only how the run ended.
int Reject(RunReport& report, RunEvents& events, int argc, char* argv[], const std::string& error, int status) {
  report.SetPath(ReportPathAsked(argc, argv));
  const std::string eventsAsked = EventsAsked(argc, argv);
  std::string unused;
  if (!eventsAsked.empty() && events.Open(eventsAsked, &unused)) report.SetEvents(&events);
  report.RecordImages();
  report.SetError(error);
  return Finish(report, RunReport::Result::kRejected, status);
}
}  // namespace

int main(int argc, char* argv[]) {
  // Paced typing pauses 10 ms per character; Windows needs a 1 ms timer for that.
  ScopedTimerResolution timerResolution;
  BufferConsoleOutput();
  // The run's time starts here; the console's last lines give a failed step's words. Both outlive
  // the interruption's watch below, which may use them until it ends.
  RunEvents events;
  std::optional<ConsoleTail> consoleTail;

  OptionMap options;
  SwitchSet switches;
  CommandList commands;
  StationOptions station;
  RunReport report(CurrentUtcTime());
  BoardStepOperations board;

  // Ctrl-C, SIGTERM, a closed terminal or console window: the steps stop where they stand (a write
  // or a break under way ends first, none begins after), the terminal gets its echo and colour
  // back, the record and the log say in which step the run was stopped, the port is let go, and
  // the program ends with status 1. The console comes last: a terminal that holds its output back
  // must not keep the rest waiting.
  InterruptWatch interrupts([&](const std::string& how) {
    RunStopGate().Shut(kStopWaitMs);
    RestoreConsole();
    std::string line;
    const int status = report.Interrupt(how, &line);
    if (!line.empty()) WriteLog(line + "\n");
    board.ReleasePortClaim();
    if (!line.empty()) std::cout << std::endl << line << std::endl;
    return status;
  });

  PrintBanner();
  FillDefaultEnvironment(commands);

  // A bad command line, or -h: the help text and one key (none in an unattended run).
  bool helpAsked = false;
  std::string rejection;
  if (!ParseCommandLine(argc, argv, options, switches, &helpAsked, &station, &rejection)) {
    const int status = helpAsked ? kExitSucceeded : kExitFailed;
    const int recorded =
        Reject(report, events, argc, argv,
               helpAsked ? "The help text was asked for (-h); nothing was run." : rejection, status);
    PrintUsage();
    std::cout << std::endl;
    if (!UnattendedAsked(argc, argv)) WaitForAnyKey();
    return recorded;
  }
  // A bad MAC address or serial number ends the run at once; its error lines are printed.
  if (!ValidateOptions(options, &rejection)) return Reject(report, events, argc, argv, rejection, kExitFailed);
  const auto port = options.find("com");
  const std::optional<std::string> givenPort =
      port == options.end() ? std::nullopt : std::optional<std::string>(port->second);
  OptionMap givenIdentity;
  for (const char* key : {"ethaddr", "serialno"}) {
    if (options.count(key)) givenIdentity[key] = options.at(key);
  }

  // The TFTP server is no identity value: it leaves the option map before the steps see it.
  const auto server = options.find("serverip");
  if (server != options.end()) {
    board.SetTftpServer(server->second);
    options.erase(server);
  }
  // How commands are typed at U-Boot's prompt, for the whole run; neither is it an identity value.
  const auto typing = options.find("typing");
  if (typing != options.end()) {
    SetUBootTyping(typing->second == "echo" ? UBootTyping::kEcho : UBootTyping::kPaced);
    options.erase(typing);
  }

  // The record exists from here on; a file that cannot be written ends the run before the port
  // is opened.
  report.SetPath(station.reportPath);
  report.RecordImages();
  // So are the events: a place they cannot go is a mistake to mend before the run.
  if (!station.events.empty()) {
    std::string line;
    if (!events.Open(station.events, &line)) {
      std::cout << line << std::endl;
      report.SetError(line);
      return Finish(report, RunReport::Result::kFailed, kExitFailed);
    }
    if (const char* password = std::getenv(kPasswordVariable)) events.AddSecret(password);
    report.SetEvents(&events);
    consoleTail.emplace(std::cout);
    board.SetTransferProgress([&events](uint64_t bytes, uint64_t total) { events.Progress(bytes, total); });
    RunStartFacts facts;
    facts.port = givenPort;
    facts.images = report.Images();
    facts.given = givenIdentity;
    facts.fallback = station.fallbackIdentity;
    facts.typing = CurrentUBootTyping() == UBootTyping::kEcho ? "echo" : "paced";
    facts.unattended = station.unattended;
    facts.retries = station.retries;
    facts.steps = PlannedSteps(switches);
    events.RunStart(facts);
  }
  if (!report.Save()) return Finish(report, RunReport::Result::kFailed, kExitFailed);

  // An unattended run without an answer it will need ends before anything is sent to the board.
  TakeProxyFromEnvironment(station);
  const std::optional<std::string> password = PasswordFromEnvironment();
  const std::string missing = MissingUnattendedAnswer(switches, station, password);
  if (!missing.empty()) {
    std::cout << missing << std::endl;
    report.SetError(missing);
    return Finish(report, RunReport::Result::kFailed, kExitFailed);
  }
  UnattendedConsole answers(station.login, password, station.proxy);
  if (station.unattended) answers.Install();

  const std::string logName = CreateRunLog(report.Started());
  if (!logName.empty()) report.SetLog(logName);

  // Find the board, back up its identity, flash, program, upload, clone, boot, update.
  RunSettings settings;
  settings.unattended = station.unattended ? &answers : nullptr;
  settings.retries = station.retries;
  settings.factoryIdentity = station.factoryIdentity;
  settings.fallbackIdentity = station.fallbackIdentity;
  settings.report = &report;
  if (!station.events.empty()) {
    settings.events = &events;
    settings.consoleTail = &*consoleTail;
  }
  const bool succeeded = RunSteps(board, options, switches, commands, settings);

  CloseLogFile();
  return Finish(report, succeeded ? RunReport::Result::kSucceeded : RunReport::Result::kFailed,
                succeeded ? kExitSucceeded : kExitFailed);
}
