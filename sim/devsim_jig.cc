#include "sim/devsim_jig.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "sim/images.h"
#include "sim/state_file.h"
#include "sim/uboot_env.h"

namespace sim {

namespace {

constexpr size_t kMaxClients = 16;
constexpr size_t kLongestCommand = 256;

bool SendLine(int fd, const std::string& text) {
  const std::string line = text + "\n";
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Six pairs of hex digits separated by colons.
bool IsMac(const std::string& text) {
  if (text.size() != 17) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool colon = i % 3 == 2;
    if (colon ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// What U-Boot's shell keeps as it is typed: 1 to 32 of A-Z a-z 0-9 . _ : / -.
bool IsSerial(const std::string& text) {
  if (text.empty() || text.size() > 32) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("._:/-", c)) return false;
  }
  return true;
}

// The words of a command: split at blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// The saved environment of a flashed board: U-Boot's built-in one, its identity replaced by the
// given one or left out.
void InstallEnvironment(Nand& nand, const Faults& faults, const std::string& mac, const std::string& serial) {
  Environment environment = DefaultEnvironment(faults);
  environment.Unset("ethaddr");
  environment.Unset("serialno");
  if (!mac.empty()) {
    environment.Set("serialno", serial);
    environment.Set("ethaddr", mac);
  }
  nand.Erase(kUbootEnvOffset, kUbootEnvSize);
  nand.Program(kUbootEnvOffset, environment.ToBlock());
}

}  // namespace

Jig::Jig(const BoardOptions& options, std::unique_ptr<Board> spare, std::string statePath)
    : options_(options), statePath_(std::move(statePath)), spare_(std::move(spare)) {}

Jig::~Jig() {
  for (const Client& client : clients_) close(client.fd);
  if (listener_ >= 0) {
    close(listener_);
    unlink(socketPath_.c_str());
  }
}

bool Jig::Listen(const std::string& path, std::string* error) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "Error: the jig's socket name must have 1 to " + std::to_string(sizeof address.sun_path - 1) +
             " characters: " + path;
    return false;
  }
  // A socket an earlier devsim left behind is replaced; anything else there is kept.
  struct stat existing {};
  if (lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = "Error: cannot make the jig's socket " + path + ": something else has that name";
      return false;
    }
    unlink(path.c_str());
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
    *error = "Error: cannot listen on the jig's socket " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  listener_ = fd;
  socketPath_ = path;
  return true;
}

void Jig::AddPollFds(std::vector<pollfd>* fds) const {
  fds->push_back({listener_, POLLIN, 0});
  for (const Client& client : clients_) fds->push_back({client.fd, POLLIN, 0});
}

bool Jig::Serve(const std::vector<pollfd>& fds, size_t first) {
  bool changed = false;
  // The clients as they were polled; new ones are taken after them.
  std::vector<Client> kept;
  for (size_t i = 0; i < clients_.size(); ++i) {
    Client& client = clients_[i];
    const size_t at = first + 1 + i;
    bool open = true;
    if (at < fds.size() && fds[at].fd == client.fd && (fds[at].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buffer[512];
      const ssize_t n = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        client.pending.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        open = false;
      }
      for (size_t end = client.pending.find('\n'); open && end != std::string::npos;
           end = client.pending.find('\n')) {
        std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool boardChanged = false;
        open = SendLine(client.fd, Command(line, &boardChanged));
        changed = changed || boardChanged;
      }
      if (open && client.pending.size() > kLongestCommand) {
        SendLine(client.fd, "error: a command is one line of at most 256 characters");
        open = false;
      }
    }
    if (open) {
      kept.push_back(client);
    } else {
      close(client.fd);
    }
  }
  clients_ = kept;
  if (first < fds.size() && (fds[first].revents & POLLIN)) {
    for (int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0;
         fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) {
      if (clients_.size() >= kMaxClients) {
        SendLine(fd, "error: the jig serves at most 16 connections at once");
        close(fd);
        continue;
      }
      clients_.push_back(Client{fd, std::string()});
    }
  }
  return changed;
}

std::string Jig::Command(const std::string& line, bool* changed) {
  *changed = false;
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return "error: an empty command (off, on blank, on flashed [MAC,SERIAL], on, state)";
  const std::string& verb = words[0];
  if (verb == "state" && words.size() == 1) {
    return std::string("{\"board\": \"") + (on_ ? "on" : "off") + "\", \"boards\": " + std::to_string(boards_) +
           "}";
  }
  if (verb == "off" && words.size() == 1) {
    *changed = on_ != nullptr;
    TakeOff();
    return "ok";
  }
  if (verb != "on" || words.size() > 3) {
    return "error: unknown command '" + line + "' (off, on blank, on flashed [MAC,SERIAL], on, state)";
  }
  if (words.size() == 1) {
    if (on_) return "error: a board is on the jig already; take it off first";
    std::unique_ptr<Board> board;
    if (takenOff_) {
      // The same board back: what its NAND and card hold; the power was off, so RAM is lost.
      board = NewBoard();
      Ethernet* ethernet = board->state().ethernet;
      board->state() = *takenOff_;
      board->state().ethernet = ethernet;
      board->state().ram.clear();
      board->state().lastLoadSize = 0;
    } else {
      board = std::move(spare_);
      ++boards_;
    }
    PutOn(std::move(board));
    *changed = true;
    return "ok";
  }
  const std::string& kind = words[1];
  std::string mac, serial;
  if (kind == "blank" && words.size() == 2) {
  } else if (kind == "flashed") {
    if (words.size() == 3) {
      const size_t comma = words[2].find(',');
      if (comma != std::string::npos) {
        mac = words[2].substr(0, comma);
        serial = words[2].substr(comma + 1);
      }
      if (!IsMac(mac) || !IsSerial(serial)) {
        return "error: on flashed takes MAC,SERIAL, for example 02:1B:4D:12:34:56,QV4N150101ABC";
      }
    }
  } else {
    return "error: unknown command '" + line + "' (off, on blank, on flashed [MAC,SERIAL], on, state)";
  }
  std::unique_ptr<Board> board = NewBoard();
  if (kind == "flashed") {
    InstallBootLoaders(board->state().nand);
    InstallEnvironment(board->state().nand, options_.faults, mac, serial);
  }
  TakeOff();
  ++boards_;
  PutOn(std::move(board));
  *changed = true;
  return "ok";
}

void Jig::TakeOff() {
  if (!on_) return;
  SaveState();
  takenOff_ = std::make_unique<BoardState>(on_->state());
  takenOff_->ethernet = nullptr;
  spare_.reset();  // the command line's board, once on, comes back as the board taken off
  on_.reset();
}

void Jig::PutOn(std::unique_ptr<Board> board) {
  on_ = std::move(board);
  SaveState();
}

void Jig::SaveState() {
  if (statePath_.empty() || !on_) return;
  std::string error;
  if (!SaveBoardState(on_->state(), statePath_, &error)) std::fprintf(stderr, "%s\n", error.c_str());
}

std::unique_ptr<Board> Jig::NewBoard() { return std::make_unique<Board>(options_); }

}  // namespace sim
