#include "station/station_options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>

#include "station/page/page_server.h"

namespace {

bool IsHexDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }

// "02:1B:4D:00:01:00": six pairs of upper-case hexadecimal digits.
bool IsMacText(const std::string& text) {
  if (text.size() != 17) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2 ? text[i] != ':' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

// PORT=MAC,SERIAL when the text after an "=" is a MAC address and a serial number of 1 to 32
// characters without a comma; the port is everything before (it may hold "=" itself).
BoardSpec ParseBoard(const std::string& text) {
  for (size_t at = text.rfind('='); at != std::string::npos && at > 0; at = text.rfind('=', at - 1)) {
    const std::string rest = text.substr(at + 1);
    const size_t comma = rest.find(',');
    if (comma == std::string::npos) continue;
    const std::string mac = rest.substr(0, comma), serial = rest.substr(comma + 1);
    if (IsMacText(mac) && !serial.empty() && serial.size() <= 32 && serial.find(',') == std::string::npos) {
      return BoardSpec{text.substr(0, at), mac, serial};
    }
  }
  return BoardSpec{text, std::nullopt, std::nullopt};
}

}  // namespace

std::string StationUsage() {
  return "usage: brenlofix-station --board PORT[=MAC,SERIAL] [--board ...] [--continuous] [--images DIR]\n"
         "                         [--records DIR] [--ledger URL] [--station NAME] [--brenlofix PATH]\n"
         "                         [--retries N] [--login USER] [--proxy URL] [--timeout MINUTES]\n"
         "                         [--typing echo|paced] [--listen ADDRESS:PORT|none] [--keep-page]\n"
         "                         [-- BRENLOFIX OPTIONS]\n";
}

std::string StationHelp() {
  return StationUsage() +
         "\n"
         "Flashes several boards at once, one unattended BrenloFix per port, all with the same answers, with\n"
         "a line of progress per board and a table of the results from each run's record at the end.\n"
         "\n"
         "  -h, --help                 this text\n"
         "  --board PORT[=MAC,SERIAL]  a board's port (/dev/ttyUSB0, rfc2217://host:port), with the MAC address\n"
         "                             and serial number to program; without them the board keeps its own, or\n"
         "                             with a ledger takes the next free pair of its pools when it holds none\n"
         "  --continuous               each port flashes every board put on it, until the station is stopped:\n"
         "                             a board's first words on the line start its run\n"
         "  --images DIR               the folder with the four image files; the runs write their logs there\n"
         "                             (default: the current folder)\n"
         "  --records DIR              where each run's record-PORT-TIME.json and console-PORT-TIME.txt go;\n"
         "                             nothing there is written over or deleted (default: the images folder)\n"
         "  --ledger URL               the identity ledger, sqlite:PATH or postgresql://... (default:\n"
         "                             BRENLOFIX_LEDGER, else sqlite:RECORDS/ledger.sqlite when it exists)\n"
         "  --station NAME             this station's name in the ledger (default: the host name)\n"
         "  --brenlofix PATH           the program (default: BrenloFix beside this one, else on PATH)\n"
         "  --brenlofix-ledger PATH    taken and ignored: the ledger is part of the station\n"
         "  --retries N, --login USER  passed on to every run\n"
         "  --proxy URL                the proxy of every run; better in BRENLOFIX_PROXY\n"
         "  --timeout MINUTES          a run still going after this long is stopped (\"timed out\")\n"
         "  --typing HOW               echo (the default here) or paced, as BrenloFix --typing\n"
         "  --listen ADDRESS:PORT      the station's page (default 127.0.0.1:8080: this PC only; port 0: any\n"
         "                             free one; none: no page); its address and token are printed at the start\n"
         "  --keep-page                once every run has ended and the table is printed, the page stays up\n"
         "                             until a line or the end of standard input, or Ctrl-C (not with --continuous)\n"
         "  after --                   further BrenloFix options for every run\n"
         "\n"
         "The password (BRENLOFIX_PASSWORD) and the proxy (BRENLOFIX_PROXY) reach every run through its\n"
         "environment. Ctrl-C, SIGTERM or SIGHUP stop every run (each records \"interrupted\") and the table\n"
         "follows. Status 0 when every board succeeded (with --continuous: when stopped), 1 otherwise.\n";
}

std::optional<StationOptions> ParseStationOptions(const std::vector<std::string>& argv, std::string* error) {
  StationOptions options;
  std::set<std::string> ports;
  for (size_t i = 0; i < argv.size(); ++i) {
    std::string name = argv[i], value;
    if (name == "--") {
      options.passedOn.assign(argv.begin() + static_cast<long>(i) + 1, argv.end());
      break;
    }
    if (name == "-h" || name == "--help") {
      options.help = true;
      return options;
    }
    if (name == "--continuous") {
      options.continuous = true;
      continue;
    }
    if (name == "--keep-page") {
      options.keepPage = true;
      continue;
    }
    const size_t equals = name.find('=');
    bool inlineValue = false;
    if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inlineValue = true;
    }
    static const std::set<std::string> kValued = {
        "--board", "--images", "--records", "--ledger", "--station", "--brenlofix", "--brenlofix-ledger",
        "--retries", "--login", "--proxy", "--timeout", "--typing", "--listen"};
    if (!kValued.count(name)) {
      *error = "Error: unknown option " + name;
      return std::nullopt;
    }
    if (!inlineValue) {
      if (i + 1 >= argv.size()) {
        *error = "Error: " + name + " needs a value";
        return std::nullopt;
      }
      value = argv[++i];
    }
    if (name == "--board") {
      BoardSpec board = ParseBoard(value);
      if (board.port.empty()) {
        *error = "Error: --board needs a port";
        return std::nullopt;
      }
      if (!ports.insert(board.port).second) {
        *error = "Error: a port is named twice";
        return std::nullopt;
      }
      options.boards.push_back(board);
    } else if (name == "--images") {
      options.images = value;
    } else if (name == "--records") {
      options.records = value;
    } else if (name == "--ledger") {
      options.ledger = value;
    } else if (name == "--station") {
      options.station = value;
    } else if (name == "--brenlofix") {
      options.brenlofix = value;
    } else if (name == "--brenlofix-ledger") {
      // The ledger is linked in now; the option is taken so that command lines written for the
      // station that ran the ledger's program keep working.
    } else if (name == "--retries") {
      options.retries = value;
    } else if (name == "--login") {
      options.login = value;
    } else if (name == "--proxy") {
      options.proxy = value;
    } else if (name == "--timeout") {
      char* end = nullptr;
      const double minutes = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !std::isfinite(minutes) || minutes <= 0) {
        *error = "Error: --timeout takes a number of minutes above 0";
        return std::nullopt;
      }
      options.timeoutMinutes = minutes;
    } else if (name == "--typing") {
      if (value != "echo" && value != "paced") {
        *error = "Error: --typing takes echo or paced";
        return std::nullopt;
      }
      options.typing = value;
    } else if (name == "--listen") {
      std::string host;
      int port = 0;
      if (value != "none" && !ParseListenAddress(value, &host, &port)) {
        *error = "Error: --listen takes ADDRESS:PORT (127.0.0.1:8080, 0.0.0.0:8080, port 0 for any) or none";
        return std::nullopt;
      }
      options.listen = value;
    }
  }
  if (options.boards.empty()) {
    *error = "Error: give at least one --board PORT";
    return std::nullopt;
  }
  if (options.keepPage && (options.continuous || options.listen == "none")) {
    *error = options.continuous
                 ? "Error: --keep-page is for a batch: a continuous station keeps its page until it is stopped"
                 : "Error: --keep-page needs the page: --listen none gives none";
    return std::nullopt;
  }
  if (options.station && options.station->empty()) {
    *error = "Error: --station needs a name";
    return std::nullopt;
  }
  return options;
}

std::string SafePortName(const std::string& port) {
  std::string safe;
  for (char c : port) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      safe += c;
    } else if (!safe.empty() && safe.back() != '_') {
      safe += '_';
    }
  }
  while (!safe.empty() && safe.back() == '_') safe.pop_back();
  return safe;
}
