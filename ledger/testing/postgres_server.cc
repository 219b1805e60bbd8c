#include "ledger/testing/postgres_server.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
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

std::unique_ptr<PostgresServer> PostgresServer::Start(bool durable, std::string* error) {
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
  if (RunServerProgram({server->bin_ + "/initdb", "-D", server->folder_ + "/data", "-U", "ledger",
                        "--auth=trust", "--no-locale", "-E", "UTF8", "--no-sync"},
                       log) != 0) {
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
  return RunPgCtl({"-m", "immediate", "stop"}) &&
         RunPgCtl({"-l", folder_ + "/server.log", "-o", options_, "start"});
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
  PGconn* connection = PQconnectdb(Url("postgres").c_str());
  PGresult* result = PQexec(connection, ("CREATE DATABASE " + name).c_str());
  const bool made = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  PQfinish(connection);
  return made ? Url(name) : "";
}
