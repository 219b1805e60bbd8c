#include "sim/linux_shell.h"

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace sim {

namespace {

constexpr Micros kMs = 1000;
constexpr const char* kPackage = "linux-kernel-modules";
constexpr const char* kMirror = "http://ftp.brenlo.com mvl401/arm";

// A terminal line in canonical mode: CR counts as LF, backspace erases, echo when asked.
std::string ReadTerminalLine(Uart& uart, bool echo) {
  std::string line;
  for (;;) {
    const int c = uart.Receive(kNever);
    if (c == '\r' || c == '\n') {
      if (echo) uart.Send("\n");  // the tty echoes the line end as CR LF
      return line;
    }
    if (c == 0x08 || c == 0x7F) {
      if (!line.empty()) {
        line.pop_back();
        if (echo) uart.Send("\b \b");
      }
      continue;
    }
    line.push_back(static_cast<char>(c));
    if (echo) uart.Send(std::string(1, static_cast<char>(c)));
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

class Session {
 public:
  Session(Uart& uart, BoardState& board) : uart_(uart), board_(board) {}

  // Asks for a user name (and a password) until one is accepted.
  void Login(bool promptShown) {
    for (;;) {
      if (!promptShown) uart_.Send(std::string(kHostName) + " login: ");
      promptShown = false;
      const std::string user = ReadTerminalLine(uart_, true);
      if (user.empty()) continue;
      const sim::Login& login = board_.login;
      bool accepted = user == login.user;
      if (!login.password.empty() && !board_.faults.noPassword) {
        uart_.Send("Password: ");
        const std::string password = ReadTerminalLine(uart_, false);
        uart_.Send("\n");
        accepted = accepted && password == login.password && !board_.faults.wrongPassword;
      }
      if (accepted) {
        user_ = user;
        board_.events.push_back("linux: logged in as " + user);
        return;
      }
      uart_.Delay(2000 * kMs);
      uart_.Send("\nLogin incorrect\n\n");
      board_.events.push_back("linux: login incorrect for " + user);
    }
  }

  // The shell until exit; commands joined by && run while they succeed.
  void Shell() {
    uart_.Send("\nMontaVista(R) Linux(R) Professional Edition 4.0.1\n\n");
    const std::string& motd = board_.login.motd;
    if (!motd.empty()) uart_.Send(motd.back() == '\n' ? motd : motd + "\n");
    for (;;) {
      uart_.Send(user_ + "@" + kHostName + (user_ == "root" ? ":~# " : ":~$ "));
      const std::string line = ReadTerminalLine(uart_, true);
      std::string rest = line;
      int status = 0;
      for (;;) {
        const size_t and_ = rest.find("&&");
        const std::vector<std::string> argv = Words(rest.substr(0, and_));
        if (!argv.empty()) {
          if (argv[0] == "exit" || argv[0] == "logout") return;
          status = Execute(argv);
        }
        if (and_ == std::string::npos || status != 0) break;
        rest = rest.substr(and_ + 2);
      }
    }
  }

 private:
  int Execute(const std::vector<std::string>& argv) {
    if (argv[0] == "export") return Export(argv);
    if (argv[0] == "echo") {
      std::string text;
      for (size_t i = 1; i < argv.size(); ++i) text += (i > 1 ? " " : "") + Expand(argv[i]);
      uart_.Send(text + "\n");
      return 0;
    }
    if (argv[0] == "apt-get") return AptGet(argv);
    uart_.Send("-sh: " + argv[0] + ": command not found\n");
    return 127;
  }

  std::string Expand(const std::string& word) const {
    if (word.size() < 2 || word[0] != '$') return word;
    auto v = exported_.find(word.substr(1));
    return v == exported_.end() ? "" : v->second;
  }

  int Export(const std::vector<std::string>& argv) {
    if (argv.size() == 1) {
      for (const auto& [name, value] : exported_) uart_.Send("export " + name + "=\"" + value + "\"\n");
      return 0;
    }
    for (size_t i = 1; i < argv.size(); ++i) {
      const size_t eq = argv[i].find('=');
      if (eq == std::string::npos) continue;
      exported_[argv[i].substr(0, eq)] = argv[i].substr(eq + 1);
      board_.events.push_back("linux: export " + argv[i]);
    }
    return 0;
  }

  void Say(const std::string& text, Micros pauseAfter = 0) {
    uart_.Send(text);
    if (pauseAfter) uart_.Delay(pauseAfter);
  }

  int AptGet(const std::vector<std::string>& argv) {
    const std::string proxy = exported_.count("http_proxy") ? exported_["http_proxy"] : "";
    if (argv.size() == 2 && argv[1] == "update") {
      board_.events.push_back("linux: apt-get update, http_proxy=" + proxy);
      Say(std::string("Get:1 ") + kMirror + " release [1786B]\n", 1500 * kMs);
      Say(std::string("Get:2 ") + kMirror + "/base pkglist [241kB]\n", 3000 * kMs);
      Say("Fetched 243kB in 4s (60.7kB/s)\n", 1000 * kMs);
      Say("Reading Package Lists... Done\n");
      return 0;
    }
    if (argv.size() == 3 && argv[1] == "install") return Install(argv[2], proxy);
    Say("Usage: apt-get [options] command\n       apt-get [options] install pkg1 [pkg2 ...]\n");
    return 100;
  }

  int Install(const std::string& package, const std::string& proxy) {
    const Faults& faults = board_.faults;
    Say("Reading Package Lists... Done\n", 1500 * kMs);
    Say("Building Dependency Tree... Done\n", 500 * kMs);
    if (package != kPackage) {
      Say("E: Couldn't find package " + package + "\n");
      return 100;
    }
    if (installed_ || faults.alreadyNewest) {
      Say(package + " is already the newest version.\n"
                    "0 upgraded, 0 newly installed, 0 to remove and 0 not upgraded.\n");
      return 0;
    }
    const std::string extras = "kernel-module-davinci-emac kernel-module-dm350mmc";
    if (!faults.noExtraPackages) Say("The following extra packages will be installed:\n  " + extras + "\n");
    Say("The following NEW packages will be installed:\n  " +
        (faults.noExtraPackages ? std::string() : extras + " ") + package + "\n");
    Say(faults.noExtraPackages ? "0 upgraded, 1 newly installed, 0 to remove and 0 not upgraded.\n"
                               : "0 upgraded, 3 newly installed, 0 to remove and 0 not upgraded.\n");
    Say("Need to get 1843kB of archives.\nAfter unpacking 5120kB of additional disk space will be used.\n");
    Say("Do you want to continue? [Y/n] ");
    const std::string answer = ReadTerminalLine(uart_, true);
    if (!answer.empty() && answer != "y" && answer != "Y" && answer != "yes") {
      Say("Abort.\n");
      return 1;
    }
    board_.events.push_back("linux: apt-get install, http_proxy=" + proxy);
    const std::string url = std::string(kMirror) + " " + package + " 2.6.10-mvl401";
    if (faults.downloadFail) {
      Say("Err " + url + "\n  Could not connect to the proxy server\n", 3000 * kMs);
      Say("Failed to fetch http://ftp.brenlo.com/mvl401/arm/RPMS.base/" + package +
          "-2.6.10-mvl401.armv5tl.rpm  Could not connect to the proxy server\n"
          "E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?\n");
      board_.events.push_back("linux: download failed");
      return 100;
    }
    Say("Get:1 " + url + " [1204kB]\n", 4000 * kMs);
    Say("Fetched 1843kB in 6s (307kB/s)\nCommitting changes...\n", 1000 * kMs);
    Say("Preparing...                ########################################### [100%]\n", 1500 * kMs);
    Say("   1:" + package + "       ########################################### [100%]\n", 500 * kMs);
    Say("Done.\n");
    installed_ = true;
    board_.events.push_back("linux: installed " + package);
    return 0;
  }

  Uart& uart_;
  BoardState& board_;
  std::string user_;
  std::map<std::string, std::string> exported_;
  bool installed_ = false;
};

}  // namespace

void RunLinuxConsole(Uart& uart, BoardState& board, bool loginShown) {
  Session session(uart, board);
  for (;;) {
    session.Login(loginShown);
    loginShown = false;
    session.Shell();
  }
}

}  // namespace sim
