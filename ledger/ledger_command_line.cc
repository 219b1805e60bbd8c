#include "ledger/ledger_command_line.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

namespace {

struct CommandForm {
  size_t arguments;               // how many positional arguments
  std::set<std::string> options;  // which options it takes
  const char* usage;
};

const std::map<std::string, CommandForm>& Commands() {
  static const std::map<std::string, CommandForm> commands{
      {"init", {0, {}, "init"}},
      {"add-macs", {2, {}, "add-macs FIRST LAST"}},
      {"add-serials", {3, {}, "add-serials PREFIX FIRST LAST"}},
      {"reserve",
       {0,
        {"--station", "--port", "--record", "--request"},
        "reserve [--station NAME] [--port PORT] [--record FILE] [--request KEY]"}},
      {"open-run",
       {0,
        {"--station", "--port", "--record", "--request"},
        "open-run [--station NAME] [--port PORT] [--record FILE] [--request KEY]"}},
      {"record", {2, {}, "record RUN FILE"}},
      {"settle", {2, {"--request"}, "settle RUN FILE [--request KEY]"}},
      {"recover", {0, {"--station"}, "recover [--station NAME]"}},
      {"resolve", {2, {}, "resolve VALUE written|free"}},
      {"status", {0, {}, "status"}},
      {"find", {1, {}, "find SERIAL|MAC"}},
      {"runs",
       {0,
        {"--since", "--csv", "--station", "--port", "--result", "--board"},
        "runs --since DATE [--station NAME] [--port PORT] [--result WORD] [--board SERIAL|MAC] [--csv]"}},
      {"audit", {0, {}, "audit"}},
      {"serve", {0, {}, "serve"}},
  };
  return commands;
}

bool Refuse(const std::string& words) {
  std::cerr << "Error: " << words << " (brenlofix-ledger --help lists the commands)" << std::endl;
  return false;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "station";
  return name;
}

// The options and positional arguments, in any order.
bool Split(const std::vector<std::string>& argv, LedgerCommandLine& line, std::set<std::string>& given) {
  static const std::set<std::string> kValued{"--ledger", "--station", "--port", "--record", "--since",
                                              "--request", "--result", "--board"};
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      line.help = true;
    } else if (argument == "--csv") {
      line.csv = true;
      given.insert(argument);
    } else if (kValued.count(argument)) {
      if (i + 1 >= argv.size()) return Refuse("missing value of " + argument);
      const std::string& value = argv[++i];
      if (argument == "--ledger") line.ledger = value;
      if (argument == "--station") line.station = value;
      if (argument == "--port") line.port = value;
      if (argument == "--record") line.record = value;
      if (argument == "--since") line.since = value;
      if (argument == "--result") line.result = value;
      if (argument == "--board") line.board = value;
      if (argument == "--request") line.request = value;
      given.insert(argument);
    } else if (argument.size() > 1 && argument[0] == '-') {
      return Refuse("unknown option " + argument);
    } else if (line.command.empty()) {
      line.command = argument;
    } else {
      line.arguments.push_back(argument);
    }
  }
  return true;
}

}  // namespace

std::optional<LedgerCommandLine> ParseLedgerCommandLine(const std::vector<std::string>& argv,
                                                        const char* environmentLedger) {
  LedgerCommandLine line;
  std::set<std::string> given;
  if (!Split(argv, line, given)) return std::nullopt;
  if (line.help) return line;
  if (line.ledger.empty())
    line.ledger = environmentLedger && *environmentLedger ? environmentLedger : "sqlite:ledger.sqlite";
  line.stationGiven = given.count("--station") > 0;
  if (line.station.empty()) line.station = HostName();
  const auto form = Commands().find(line.command);
  if (form == Commands().end()) {
    Refuse(line.command.empty() ? "no command given" : "unknown command " + line.command);
    return std::nullopt;
  }
  if (line.arguments.size() != form->second.arguments) {
    Refuse("usage: brenlofix-ledger " + std::string(form->second.usage));
    return std::nullopt;
  }
  for (const std::string& option : given) {
    if (option != "--ledger" && !form->second.options.count(option)) {
      Refuse(option + " does not go with " + line.command);
      return std::nullopt;
    }
  }
  if (line.request && line.request->empty()) {
    Refuse("--request takes a key: the caller's own unique text for this request");
    return std::nullopt;
  }
  if (line.command == "runs" && !line.since) {
    Refuse("usage: brenlofix-ledger " + std::string(form->second.usage));
    return std::nullopt;
  }
  if (line.command == "record" || line.command == "settle") {
    const std::string& run = line.arguments[0];
    if (run.empty() || run.size() > 18 || run.find_first_not_of("0123456789") != std::string::npos) {
      Refuse("'" + run + "' is no run number");
      return std::nullopt;
    }
    line.run = std::stoll(run);
  }
  // Record files are named for good: recover may run from another folder.
  if (line.record) line.record = std::filesystem::absolute(*line.record).string();
  if (line.command == "record" || line.command == "settle") {
    line.arguments[1] = std::filesystem::absolute(line.arguments[1]).string();
  }
  if (line.command == "resolve" && line.arguments[1] != "written" && line.arguments[1] != "free") {
    Refuse("resolve VALUE written (it is on its board) or resolve VALUE free (it is on no board)");
    return std::nullopt;
  }
  return line;
}

void PrintLedgerUsage(std::ostream& out) {
  out << "Usage: brenlofix-ledger [--ledger URL] COMMAND [ARGUMENTS]\n"
         "\n"
         "The identity ledger: pools of MAC addresses and serial numbers, never handed out twice,\n"
         "and every run of the station with its record.\n"
         "\n"
         "  --ledger URL   sqlite:PATH (one station) or postgresql://USER@HOST/DB (several stations);\n"
         "                 default: the environment variable BRENLOFIX_LEDGER, else sqlite:ledger.sqlite;\n"
         "                 a PostgreSQL password goes in PGPASSWORD or ~/.pgpass, not in the URL\n"
         "\n"
         "Commands:\n"
         "  init                           make the ledger's tables (a new SQLite file too)\n"
         "  add-macs FIRST LAST            add a pool of MAC addresses, 02:1B:4D:00:10:00 02:1B:4D:00:1F:FF\n"
         "  add-serials PREFIX FIRST LAST  add a pool of serial numbers, QV4N1501 000001 009999\n"
         "  reserve                        open a run with the next free MAC address and serial number;\n"
         "                                 prints \"RUN MAC,SERIAL\"\n"
         "  open-run                       open a run that takes nothing from the pools; prints \"RUN\"\n"
         "      --station NAME  the station (default: the host's name)   --port PORT   the board's port\n"
         "      --record FILE   where the run's record is written (recover reads it)\n"
         "      --request KEY   (reserve, open-run, settle) the caller's unique key: the same request made\n"
         "                      again with it (its answer was lost) is answered, not done twice\n"
         "  record RUN FILE                store the run's record as it stands (the run goes on)\n"
         "  settle RUN FILE                the run has ended: written values are bound for good, the others\n"
         "                                 go back to the pool; a record that cannot tell leaves them to "
         "check\n"
         "  recover [--station NAME]       settle the runs a killed station left open, from their records\n"
         "                                 (a live station's runs, whose lease has not run out, stay)\n"
         "  resolve VALUE written|free     a value to check, after a look at its board\n"
         "  status                         free, reserved, written and to-check counts per pool\n"
         "  find SERIAL|MAC                the runs of that board, with their images\n"
         "  runs --since DATE [--csv]      the runs since DATE (2014-06-23, or 2014-06-23T09:05 UTC)\n"
         "      only those of --station NAME, --port PORT, --result WORD (succeeded, failed, ..., \"no record\"),\n"
         "      --board SERIAL|MAC (reserved, read or programmed by the run)\n"
         "  audit                          status 1 when a value was written to two boards, or a board\n"
         "                                 holds a value the ledger had given to another run\n"
         "  serve                          for a station: one command a line on standard input, as a JSON\n"
         "                                 array of its words ([\"reserve\", \"--port\", \"COM3\"]), run on "
         "one\n"
         "                                 open connection; its output (errors too), then \"=STATUS\"\n"
         "\n"
         "Exit status: 0 done, 1 failed (or audit found a problem, find found nothing), 2 a wrong command "
         "line.\n";
}
