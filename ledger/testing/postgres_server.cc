#include "ledger/testing/postgres_server.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Debian keeps the server's programs under /usr/lib/postgresql/VERSION/bin; the newest one.
std::string ServerBinFolder() {
  std::string found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb") && bin.string() > found) found = bin.string();
  }
  return found;
}

// Runs the program (as postgres when we are root) with its output into log; its exit status.
int RunServerProgram(std::vector<std::string> argv, const std::string& log) {
  if (geteuid() == 0) argv.insert(argv.begin(), {"runuser", "-u", "postgres", "--"});
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> args;
    for (std::string& argument : argv) args.push_back(argument.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a program said, for the test's failure message (the folder goes with the server).
std::string LogText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::unique_ptr<PostgresServer> PostgresServer::Start(bool durable, std::string* error, const std::string& password) {
  char folder[] = "/tmp/ledger-pg-XXXXXX";
  if (!mkdtemp(folder)) {
    *error = "cannot make a temporary folder";
    return nullptr;
  }
  std::unique_ptr<PostgresServer> server(new PostgresServer(folder));
  server->bin_ = ServerBinFolder();
  if (server->bin_.empty()) {
    *error = "no PostgreSQL server under /usr/lib/postgresql (Debian's postgresql)";
    return nullptr;
  }
  if (geteuid() == 0) {
    const passwd* postgres = getpwnam("postgres");
    if (!postgres || chown(folder, postgres->pw_uid, postgres->pw_gid) != 0) {
      *error = "no user postgres to run the server as";
      return nullptr;
    }
  }
  const std::string log = server->folder_ + "/programs.log";
  std::vector<std::string> initdb{server->bin_ + "/initdb", "-D", server->folder_ + "/data", "-U", "ledger",
                                  "--auth=trust", "--no-locale", "-E", "UTF8", "--no-sync"};
  if (!password.empty()) {
    server->password_ = password;
    const std::string file = server->folder_ + "/password";
    std::ofstream(file) << password << "\n";
    if (geteuid() == 0) {
      const passwd* postgres = getpwnam("postgres");
      if (!postgres || chown(file.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
        *error = "cannot hand the password file to the user postgres";
        return nullptr;
      }
    }
    initdb[6] = "--auth=scram-sha-256";
    initdb.push_back("--pwfile=" + file);
  }
  if (RunServerProgram(initdb, log) != 0) {
    *error = "initdb failed: " + LogText(log);
    return nullptr;
  }
  server->options_ = "-c listen_addresses= -c unix_socket_directories=" + server->folder_ + " -p 5432";
  if (!durable) server->options_ += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
  if (!server->RunPgCtl({"-l", server->folder_ + "/server.log", "-o", server->options_, "start"})) {
    *error = "the server did not start: " + LogText(server->folder_ + "/server.log");
    return nullptr;
  }
  server->running_ = true;
  return server;
}

bool PostgresServer::RunPgCtl(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv{bin_ + "/pg_ctl", "-D", folder_ + "/data", "-w", "-s"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunServerProgram(argv, folder_ + "/programs.log") == 0;
}

bool PostgresServer::Restart() {
  running_ = !RunPgCtl({"-m", "immediate", "stop"});
  return !running_ && StartAgain();
}

bool PostgresServer::Stop() {
  running_ = !RunPgCtl({"-m", "fast", "stop"});
  return !running_;
}

bool PostgresServer::StartAgain() {
  if (running_) return true;
  running_ = RunPgCtl({"-l", folder_ + "/server.log", "-o", options_, "start"});
  return running_;
}

bool PostgresServer::SignalAll(int signal) {
  // The postmaster's process number is the first line of its pid file; its processes are the ones
  // whose parent it is.
  std::ifstream pidFile(folder_ + "/data/postmaster.pid");
  pid_t postmaster = 0;
  if (!(pidFile >> postmaster) || postmaster <= 0) return false;
  std::vector<pid_t> processes{postmaster};
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    std::getline(stat, text);
    // pid (comm) state ppid ...: the command may hold blanks and parentheses, the rest follows the last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == postmaster) processes.push_back(std::stoi(name));
  }
  bool all = true;
  for (pid_t process : processes) all = kill(process, signal) == 0 && all;
  return all;
}

PostgresServer::~PostgresServer() {
  if (running_) RunPgCtl({"-m", "immediate", "stop"});
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string PostgresServer::Url(const std::string& database) const {
  return "postgresql:///" + database + "?host=" + folder_ + "&user=ledger";
}

std::string PostgresServer::NewDatabase(const std::string& name) {
  const char* keys[] = {"dbname", "password", nullptr};
  const std::string url = Url("postgres");
  const char* values[] = {url.c_str(), password_.empty() ? nullptr : password_.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keys, values, 1);
  PGresult* result = PQexec(connection, ("CREATE DATABASE " + name).c_str());
  const bool made = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  PQfinish(connection);
  return made ? Url(name) : "";
}
