// page_feed: the station's page with made-up boards, so that the page can be tried and tested
// without a station. It prints "Page: ADDRESS" and "Token: TOKEN", then takes one command a line:
//   board JSON           the board object of a port (replaces the port's last one)
//   console PORT JSON    a JSON string appended to the port's console capture
//   clear PORT           the port's capture starts again (a new run)
// and prints "ok" after each. An action with the token prints "act ACTION PORT".
// With --records DIR, the console of an ended run is read from DIR as the station's records folder.
//   page_feed --listen 127.0.0.1:0 --ledger sqlite:ledger.sqlite --station line-1 --ports A,B
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "station/page/page_server.h"

using Json = nlohmann::json;

int main(int argc, char* argv[]) {
  std::string listen = "127.0.0.1:0", ledger, station, ports, tokenFile, records;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--listen") listen = argv[i + 1];
    else if (option == "--ledger") ledger = argv[i + 1];
    else if (option == "--station") station = argv[i + 1];
    else if (option == "--ports") ports = argv[i + 1];
    else if (option == "--token-file") tokenFile = argv[i + 1];
    else if (option == "--records") records = argv[i + 1];
    else {
      std::cerr << "Error: unknown option " << option << std::endl;
      return 2;
    }
  }

  std::mutex mutex;
  std::vector<std::string> order;
  std::map<std::string, Json> boards;
  std::map<std::string, std::string> consoles;
  std::stringstream portList(ports);
  for (std::string port; std::getline(portList, port, ',');) {
    order.push_back(port);
    boards[port] = Json{{"port", port}, {"state", "waiting"}, {"stepsDone", Json::array()}};
  }

  PageHooks hooks;
  hooks.station = station;
  hooks.records = records;
  hooks.boards = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    Json all = Json::array();
    for (const std::string& port : order) all.push_back(boards[port]);
    return all;
  };
  hooks.console = [&](const std::string& port, size_t from) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string& text = consoles[port];
    return from < text.size() ? text.substr(from) : std::string();
  };
  hooks.act = [&](const std::string& action, const std::string& port, std::string* words) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!boards.count(port)) {
      *words = "Error: the station has no port " + port + ".";
      return false;
    }
    std::cout << "act " << action << " " << port << std::endl;
    *words = (action == "stop" ? "Stopping the run on " : "Starting again on ") + port + ".";
    return true;
  };

  PageServer server;
  std::string words;
  if (!server.Start(listen, hooks, ledger, &words) ||
      (!tokenFile.empty() && !server.WriteTokenFile(tokenFile, &words))) {
    std::cerr << words << std::endl;
    return 1;
  }
  std::cout << "Page: " << server.Address() << "\nToken: " << server.Token() << std::endl;

  for (std::string line; std::getline(std::cin, line);) {
    const size_t blank = line.find(' ');
    const std::string command = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (command == "board") {
      const Json board = Json::parse(rest, nullptr, false);
      if (!board.is_object() || !board.contains("port")) {
        std::cout << "error: a board is a JSON object with its port" << std::endl;
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string port = board["port"];
        if (!boards.count(port)) order.push_back(port);
        boards[port] = board;
      }
      server.BoardChanged(board);
    } else if (command == "console" || command == "clear") {
      const size_t split = rest.find(' ');
      const std::string port = rest.substr(0, split);
      const Json text = split == std::string::npos ? Json("") : Json::parse(rest.substr(split + 1), nullptr, false);
      if (!text.is_string()) {
        std::cout << "error: the console's text is a JSON string" << std::endl;
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (command == "clear") consoles[port].clear();
        consoles[port] += text.get<std::string>();
      }
      server.ConsoleAppended(port, text.get<std::string>());
    } else {
      std::cout << "error: unknown command " << command << std::endl;
      continue;
    }
    std::cout << "ok" << std::endl;
  }
  server.Stop();
  return 0;
}
