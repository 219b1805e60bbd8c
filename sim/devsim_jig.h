// devsim's jig: boards are put on it and taken off, as at a factory line, by one-line commands on a
// Unix-domain stream socket. Each command gets one line back, "ok" or "error: <words>" ("state"
// gets one line of JSON):
//   off                       the board is taken off: the line goes silent
//   on blank                  a new, erased board is put on and powered on
//   on flashed [MAC,SERIAL]   a new board with the kit's UBL and U-Boot and a saved environment
//                             (holding that identity, or none) is put on and powered on
//   on                        the board taken off last (at first: the command line's board) is
//                             put back and powered on
//   state                     {"board": "off"|"on", "boards": <boards put on so far>}
// The jig starts empty. Every board gets the command line's options and faults; the state file
// follows the board on the jig (written as each one is put on or taken off).
#pragma once

#include <poll.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/board.h"

namespace sim {

class Jig {
 public:
  // spare: the command line's board, put on by the first plain "on".
  Jig(const BoardOptions& options, std::unique_ptr<Board> spare, std::string statePath);
  ~Jig();
  Jig(const Jig&) = delete;
  Jig& operator=(const Jig&) = delete;

  // Listens at path (a socket left there by an earlier devsim is replaced). False with *error.
  bool Listen(const std::string& path, std::string* error);
  // The sockets to watch: appended to fds.
  void AddPollFds(std::vector<pollfd>* fds) const;
  // Takes the connections and commands the polled sockets hold (fds from `first` on are the ones
  // AddPollFds appended) and answers them. True when another board (or none) is on the jig now.
  bool Serve(const std::vector<pollfd>& fds, size_t first);
  // The board on the jig; null when it is empty.
  Board* OnJig() const { return on_.get(); }

  // One command line, answered (without its line end). Exposed for the tests of its words.
  std::string Command(const std::string& line, bool* changed);

 private:
  struct Client {
    int fd;
    std::string pending;
  };
  void TakeOff();
  void PutOn(std::unique_ptr<Board> board);
  void SaveState();
  std::unique_ptr<Board> NewBoard();

  BoardOptions options_;
  std::string statePath_;
  std::string socketPath_;
  int listener_ = -1;
  std::vector<Client> clients_;
  std::unique_ptr<Board> on_;
  std::unique_ptr<Board> spare_;  // the command line's board until it is first put on
  std::unique_ptr<BoardState> takenOff_;  // what lasts of the board taken off last
  unsigned boards_ = 0;
};

}  // namespace sim
