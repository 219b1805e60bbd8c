// The station's page: every board live in a browser (server-sent events), its console and record,
// the yield and the history from the ledger, JSON for machines and /metrics for Prometheus. It runs
// on the HTTP library's own threads; the hooks must be thread-safe and quick (the station answers
// them from a snapshot under a mutex), so that the page never holds up the station's loop.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

struct PageHooks {
  // /api/boards: the array of board objects, in the order of the ports.
  std::function<nlohmann::json()> boards;
  // The port's console capture from byte `from` on (secrets masked).
  std::function<std::string(const std::string& port, std::size_t from)> console;
  // The station's records folder: the console capture of an ended run of this station is read back
  // from there, beside the record the ledger names for the run ("": none is read).
  std::string records;
  // A POST action ("stop": stop the board's run; "start": start the port again) that came with the
  // token; false with the reason in *words.
  std::function<bool(const std::string& action, const std::string& port, std::string* words)> act;
  // The station's name in the ledger: /metrics counts its runs, the board pages its step times
  // ("" for every station's).
  std::string station;
  // A line for the station's output: why the page could not read the ledger (passwords masked).
  std::function<void(const std::string& line)> log;
};

class PageServer {
 public:
  PageServer();
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // listen "ADDR:PORT" ("[::1]:8080" too; port 0 picks a free one); ledgerUrl ("" for none) for
  // /runs, /yield, /api/runs, /api/yield and /metrics. False with the reason in *words (an address
  // in use, one that is not an address).
  bool Start(const std::string& listen, PageHooks hooks, const std::string& ledgerUrl, std::string* words);
  // "http://127.0.0.1:8080/"
  std::string Address() const;
  // What a POST action needs: made new at each start, 32 hex digits.
  const std::string& Token() const { return token_; }
  // Writes the token into a new file only its owner may read (mode 0600).
  bool WriteTokenFile(const std::string& path, std::string* words) const;
  // One board object changed: pushed to every page at once.
  void BoardChanged(const nlohmann::json& board);
  // The port's console capture grew: the pages that show it fetch the new text.
  void ConsoleAppended(const std::string& port, const std::string& text);
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string token_;
  std::thread thread_;
};

// "ADDR:PORT" split; false for anything else.
bool ParseListenAddress(const std::string& listen, std::string* host, int* port);
