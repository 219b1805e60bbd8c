// A PostgreSQL server of the tests' own, Debian's postgresql: initdb in a temporary folder, a
// server on a Unix socket in that folder only (no TCP port), stopped and removed at the end. As
// root, its programs run as the user postgres (runuser), since initdb refuses root.
#pragma once

#include <memory>
#include <string>
#include <vector>

class PostgresServer {
 public:
  // durable: the server syncs its commits to the disk as a real one does (benchmarks); tests that
  // do not measure the disk turn that off. Empty when the server does not start: why in *error.
  // password: the login's password, asked for by the server (scram-sha-256) instead of trusting
  // every local connection; the URLs it gives hold none (PGPASSWORD, a .pgpass file, or the URL).
  static std::unique_ptr<PostgresServer> Start(bool durable, std::string* error, const std::string& password = "");
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // A new, empty database on the server; the URL that reaches it. Empty when it cannot be made.
  std::string NewDatabase(const std::string& name);
  // Stops the server (its clients lose their connections) and starts it again.
  bool Restart();
  // Stops it as an administrator does (what it committed is kept), and starts it again.
  bool Stop();
  bool StartAgain();
  // Sends the signal to the server and every process of it (SIGSTOP: a server that no longer
  // answers, though its host still takes connections; SIGCONT: it goes on).
  bool SignalAll(int signal);

 private:
  explicit PostgresServer(std::string folder) : folder_(std::move(folder)) {}
  std::string Url(const std::string& database) const;
  bool RunPgCtl(const std::vector<std::string>& arguments) const;

  std::string folder_;
  std::string bin_;
  std::string options_;
  std::string password_;
  bool running_ = false;
};
