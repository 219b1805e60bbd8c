#include "station/station_setup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// What every run reads from the images folder.
const char* const kImageFiles[] = {"sft_DM6446_NAND.bin", "ubl_DM6446_NAND.bin", "uboot.large.bin", "uImage"};
// The longest stamp in a run's file names, and the longest of the names around the port.
constexpr char kStampExample[] = "20140623T090507Z";
constexpr char kLedgerFile[] = "ledger.sqlite";

bool IsExecutable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program given, else the one beside the station, else the one on PATH.
std::optional<std::string> FindProgram(const std::optional<std::string>& given, const std::string& self,
                                       const std::string& name) {
  if (given) {
    if (!IsExecutable(*given)) return std::nullopt;
    return fs::absolute(*given).string();
  }
  std::error_code ignored;
  const fs::path beside = fs::path(self).parent_path() / name;
  if (!self.empty() && IsExecutable(beside.string())) return beside.string();
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && IsExecutable(folder + "/" + name)) return fs::absolute(folder + "/" + name).string();
    start = end + 1;
  }
  return std::nullopt;
}

// The records folder can take new files: one is made and removed again.
bool CanWriteIn(const std::string& folder, std::string* why) {
  const std::string probe = folder + "/.brenlofix-station-" + std::to_string(getpid());
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  const bool written = write(fd, "x", 1) == 1;
  if (!written) *why = std::strerror(errno);
  close(fd);
  unlink(probe.c_str());
  return written;
}

}  // namespace

std::optional<StationSetup> MakeStationSetup(const StationOptions& options, const std::string& self,
                                             std::string* error) {
  StationSetup setup;
  const auto brenlofix = FindProgram(options.brenlofix, self, "BrenloFix");
  if (!brenlofix) {
    *error = options.brenlofix ? "Error: cannot run " + *options.brenlofix + " (no such program)"
                               : std::string("Error: cannot find BrenloFix; give --brenlofix PATH");
    return std::nullopt;
  }
  setup.brenlofix = *brenlofix;

  // The images: every run reads the same four files.
  std::error_code failed;
  setup.images = fs::absolute(options.images, failed).lexically_normal().string();
  if (setup.images.size() > 1 && setup.images.back() == '/') setup.images.pop_back();
  if (!fs::is_directory(setup.images, failed)) {
    *error = "Error: the images folder " + setup.images + " does not exist; no board was started.";
    return std::nullopt;
  }
  for (const char* name : kImageFiles) {
    const std::string path = setup.images + "/" + name;
    if (access(path.c_str(), R_OK) != 0 || !fs::is_regular_file(path, failed)) {
      *error = "Error: the images folder " + setup.images + " holds no " + name + "; no board was started.";
      return std::nullopt;
    }
  }

  // The records: made when missing, and able to take the runs' files by their names.
  setup.records = options.records ? fs::absolute(*options.records, failed).lexically_normal().string() : setup.images;
  if (setup.records.size() > 1 && setup.records.back() == '/') setup.records.pop_back();
  fs::create_directories(setup.records, failed);
  std::string why;
  if (!fs::is_directory(setup.records) || !CanWriteIn(setup.records, &why)) {
    *error = "Error: cannot write into the records folder " + setup.records + " (" +
             (why.empty() ? std::string("not a folder") : why) + "); no board was started.";
    return std::nullopt;
  }
  const long longest = pathconf(setup.records.c_str(), _PC_NAME_MAX);
  for (const BoardSpec& board : options.boards) {
    const std::string name = "console-" + SafePortName(board.port) + "-" + kStampExample + ".json";
    if (longest > 0 && static_cast<long>(name.size()) > longest) {
      *error = "Error: the port name " + board.port + " makes file names longer than " + setup.records +
               " takes (" + std::to_string(longest) + " characters); no board was started.";
      return std::nullopt;
    }
    if (options.continuous && board.mac) {
      *error = "Error: --continuous flashes every board put on a port: give its port without an identity (" +
               board.port + ")";
      return std::nullopt;
    }
  }

  // The station's name in the ledger.
  if (options.station) {
    setup.station = *options.station;
  } else {
    char host[256] = {};
    setup.station = gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "station";
  }

  // What every run is given: the answers after its own options, the secrets in its environment.
  setup.passedOn = options.passedOn;
  if (!options.typing.empty()) setup.passedOn.insert(setup.passedOn.begin(), {"--typing", options.typing});
  if (options.retries) setup.passedOn.insert(setup.passedOn.begin(), {"--retries", *options.retries});
  if (options.login) setup.passedOn.insert(setup.passedOn.begin(), {"--login", *options.login});
  for (char** entry = environ; *entry; ++entry) {
    if (options.proxy && std::strncmp(*entry, "BRENLOFIX_PROXY=", 16) == 0) continue;
    // The ledger's URL and password are the station's: no run needs them.
    if (std::strncmp(*entry, "BRENLOFIX_LEDGER=", 17) == 0 || std::strncmp(*entry, "PGPASSWORD=", 11) == 0) continue;
    setup.environment.push_back(*entry);
  }
  if (options.proxy) setup.environment.push_back("BRENLOFIX_PROXY=" + *options.proxy);

  setup.boards = options.boards;
  setup.continuous = options.continuous;
  if (options.timeoutMinutes) {
    setup.timeout = std::chrono::milliseconds(static_cast<long long>(std::llround(*options.timeoutMinutes * 60000)));
  }
  setup.events = WritesEvents(setup.brenlofix);
  return setup;
}

std::optional<std::string> StationLedgerUrl(const StationOptions& options, const std::string& records) {
  if (options.ledger) return options.ledger;
  const char* variable = std::getenv("BRENLOFIX_LEDGER");
  if (variable && *variable) return std::string(variable);
  const std::string file = records + "/" + kLedgerFile;
  if (access(file.c_str(), F_OK) == 0) return "sqlite:" + file;
  return std::nullopt;
}

bool WritesEvents(const std::string& brenlofix) {
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(output[1], 1);
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, 0);
    dup2(devNull, 2);
    execl(brenlofix.c_str(), brenlofix.c_str(), "--help", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  std::string help;
  char buffer[4096];
  for (ssize_t got; pid > 0 && (got = read(output[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    help.append(buffer, static_cast<size_t>(got));
  }
  close(output[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return help.find("--events") != std::string::npos;
}

