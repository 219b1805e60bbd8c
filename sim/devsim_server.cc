#include "sim/devsim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <vector>

#include "sim/devsim_jig.h"
#include "sim/devsim_network.h"
#include "sim/rfc2217_session.h"
#include "sim/state_file.h"

namespace sim {

namespace {

volatile sig_atomic_t stopRequested = 0;
void OnStopSignal(int) { stopRequested = 1; }

// One file descriptor, closed by its owner on every exit.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

class RealClock {
 public:
  Micros Now() const {
    return static_cast<Micros>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
            .count());
  }
  // Time starts again (a new board is powered on).
  void Restart() { start_ = std::chrono::steady_clock::now(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The board's line as the RFC 2217 session drives it, at the real time of each command. With no
// board on the jig the line is dead: what the host sends is lost. With a byte time, the line
// carries the host's bytes as a network serial server's line does: one after the other, each
// reaching the board when its last bit has, and a break in its place among them; the server holds
// what the line has not carried yet (Queued), and stops taking more from the host when its buffer
// is full, so that TCP makes the host wait.
class BoardPort : public Rfc2217Session::Port {
 public:
  BoardPort(Board* board, const RealClock& clock, Micros byteTime)
      : board_(board), clock_(clock), byteTime_(byteTime) {}
  // Another board (or none) is on the line; the host's line settings stay as they were set. What
  // was on its way to the board taken off is lost.
  void SetBoard(Board* board) {
    board_ = board;
    ranUntil_ = 0;
    inputLimit_ = kNever;
    line_.clear();
    lineFree_ = 0;
    if (board_ && settingsGiven_) board_->SetLineSettings(baud_, dataBits_, parity_, stopBits_);
  }
  // Gives the board what the line has carried by now (not before what the board has already
  // run: a devsim held up hands it over late, as a whole). The bytes the line carried within a
  // millisecond reach the firmware together, at the time the last of them arrived, as a UART's
  // FIFO is read out at once: the line's pace stays exact, and the firmware wakes once for them
  // instead of once a byte.
  void DeliverCarried(Micros now) {
    while (board_ && !line_.empty() && line_.front().due <= now) {
      if (line_.front().kind != Carried::kData) {
        board_->SetBreak(line_.front().kind == Carried::kBreakOn, std::max(line_.front().due, ranUntil_));
        line_.pop_front();
        continue;
      }
      const Micros first = line_.front().due;
      Micros last = first;
      size_t count = 0;
      while (count < line_.size() && line_[count].kind == Carried::kData && line_[count].due <= now &&
             line_[count].due - first <= kFifoSpan) {
        last = line_[count].due;
        ++count;
      }
      const Micros at = std::max(last, ranUntil_);
      for (size_t i = 0; i < count; ++i) {
        board_->ReceiveByte(line_.front().byte, at);
        line_.pop_front();
      }
    }
  }
  // When the line next hands the board something; kNever when it carries nothing.
  Micros NextCarried() const { return line_.empty() ? kNever : line_.front().due; }
  size_t Queued() const { return line_.size(); }
  // The board was run up to ranUntil and next wants to act at next on its own. Input that is read
  // later than next arrived while devsim itself was held up (a loaded machine), not while the line
  // was silent: it is given to the board just before next, so that a stall of this process never
  // looks like a pause of the host's transmission to the firmware's time-outs.
  void SetInputWindow(Micros ranUntil, Micros next) {
    ranUntil_ = ranUntil;
    inputLimit_ = next == kNever ? kNever : std::max(ranUntil, next - 1);
  }
  // The bytes of one read from the socket arrive together: one time for all of them, so that the
  // board takes a whole block in one go instead of waking its firmware for every byte.
  void BeginInput() { inputAt_ = std::max(ranUntil_, std::min(clock_.Now(), inputLimit_)); }
  void OnData(uint8_t byte) override {
    if (!board_) return;
    if (byteTime_ == 0) {
      board_->ReceiveByte(byte, inputAt_);
      return;
    }
    lineFree_ = std::max(inputAt_, lineFree_) + byteTime_;
    line_.push_back(Carried{Carried::kData, byte, lineFree_});
  }
  void OnLineSettings(uint32_t baud, int dataBits, char parity, int stopBits) override {
    settingsGiven_ = true;
    baud_ = baud;
    dataBits_ = dataBits;
    parity_ = parity;
    stopBits_ = stopBits;
    if (board_) board_->SetLineSettings(baud, dataBits, parity, stopBits);
  }
  void OnBreak(bool on) override {
    if (!board_) return;
    if (byteTime_ == 0) {
      board_->SetBreak(on, clock_.Now());
      return;
    }
    // After the bytes before it; the bytes after it wait for its end.
    lineFree_ = std::max(clock_.Now(), lineFree_);
    line_.push_back(Carried{on ? Carried::kBreakOn : Carried::kBreakOff, 0, lineFree_});
  }
  void OnPurgeReceived() override {}  // output goes to the client as soon as the line has sent it

 private:
  static constexpr Micros kFifoSpan = 1000;

  struct Carried {
    enum Kind { kData, kBreakOn, kBreakOff } kind;
    uint8_t byte;
    Micros due;  // when it reaches the board
  };

  Board* board_;
  const RealClock& clock_;
  const Micros byteTime_;  // 0: the host's bytes reach the board at once
  std::deque<Carried> line_;
  Micros lineFree_ = 0;  // when the line has carried everything it holds
  bool settingsGiven_ = false;
  uint32_t baud_ = 0;
  int dataBits_ = 0;
  char parity_ = 'n';
  int stopBits_ = 0;
  Micros ranUntil_ = 0;
  Micros inputLimit_ = kNever;
  Micros inputAt_ = 0;
};

int Listen(uint16_t port, uint16_t* bound) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  *bound = ntohs(addr.sin_port);
  return fd;
}

// A pseudo-terminal whose other end the host opens as a serial port. devsim keeps the far end open
// itself, so that the line stays up between the host's opens. A pty carries no break.
int OpenPty(std::string* name, Fd* farEnd) {
  int fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 || !ptsname(fd)) return -1;
  *name = ptsname(fd);
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);
  }
  farEnd->Reset(open(name->c_str(), O_RDWR | O_NOCTTY));
  if (farEnd->get() >= 0 && tcgetattr(farEnd->get(), &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(farEnd->get(), TCSANOW, &tio);
  }
  return fd;
}

// The board on the line; with none (the jig is empty) the file keeps the board taken off last.
void SaveState(Board* board, const std::string& path) {
  if (path.empty() || !board) return;
  std::string error;
  if (!SaveBoardState(board->state(), path, &error)) std::fprintf(stderr, "%s\n", error.c_str());
}

}  // namespace

int Serve(std::unique_ptr<Board> fixedBoard, const BoardOptions& boardOptions, const ServeOptions& options) {
  signal(SIGINT, OnStopSignal);
  signal(SIGTERM, OnStopSignal);
  signal(SIGPIPE, SIG_IGN);

  uint16_t port = 0;
  Fd listener(Listen(options.port, &port));
  if (listener.get() < 0) {
    std::fprintf(stderr, "Error: cannot listen on 127.0.0.1:%u: %s\n", options.port, std::strerror(errno));
    return 1;
  }
  std::printf("devsim: serving rfc2217://127.0.0.1:%u\n", port);
  if (options.tftpPort != 0) {
    const uint32_t ip = options.stationIp;
    std::printf("devsim: the board's TFTP server %u.%u.%u.%u is 127.0.0.1:%u\n", ip >> 24, ip >> 16 & 0xFF,
                ip >> 8 & 0xFF, ip & 0xFF, options.tftpPort);
  }
  Fd pty, ptyFarEnd;
  if (options.pty) {
    std::string name;
    pty.Reset(OpenPty(&name, &ptyFarEnd));
    if (pty.get() < 0) {
      std::fprintf(stderr, "Error: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
      return 1;
    }
    std::printf("devsim: serving %s (no break on a pty)\n", name.c_str());
  }
  std::unique_ptr<Jig> jig;
  if (!options.jigPath.empty()) {
    jig = std::make_unique<Jig>(boardOptions, std::move(fixedBoard), options.statePath);
    std::string error;
    if (!jig->Listen(options.jigPath, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("devsim: the jig listens on %s; it is empty\n", options.jigPath.c_str());
  }
  std::fflush(stdout);
  if (!options.portFile.empty()) std::ofstream(options.portFile) << port << "\n";

  // The server's own time (hang-ups) and the board's, which starts again with each board put on.
  RealClock clock;
  RealClock boardClock;
  Board* board = jig ? jig->OnJig() : fixedBoard.get();
  // With line emulation the host's bytes take their time too (unless told otherwise), behind a
  // network serial server's buffer of 64 KiB.
  const Micros hostByteTime =
      boardOptions.baudEmulation && !options.unpacedInput ? 10000000ull / boardOptions.baud : 0;
  constexpr size_t kServerBuffer = 65536;
  constexpr Micros kCarriedLatency = 1000;
  BoardPort boardPort(board, boardClock, hostByteTime);
  DevsimNetwork network(options.stationIp, options.tftpPort);
  std::vector<Datagram> datagrams;
  std::vector<pollfd> fds;
  Fd client;
  Rfc2217Session session;
  std::vector<uint8_t> out;
  uint8_t buffer[4096];
  // The state file is written once a host has hung up and none came back for a while (and on
  // stop): a host reopens the port between steps, and a terminal server takes it back at once.
  constexpr Micros kSaveAfterHangUp = 1000000;
  Micros hungUpAt = kNever;
  auto hangUp = [&] {
    client.Reset();
    hungUpAt = clock.Now();
  };
  // One read of the client's input, given to the board. False when there was none to read now
  // (with MSG_DONTWAIT) or the client hung up.
  auto readClient = [&](int flags) {
    const ssize_t n = recv(client.get(), buffer, sizeof buffer, flags);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n <= 0) {
      hangUp();
      return false;
    }
    boardPort.BeginInput();
    const std::string reply = session.Feed(buffer, static_cast<size_t>(n), boardPort);
    if (!reply.empty() && !SendAll(client.get(), reply)) {
      hangUp();
      return false;
    }
    return true;
  };
  while (!stopRequested) {
    if (hungUpAt != kNever && client.get() < 0 && clock.Now() - hungUpAt >= kSaveAfterHangUp) {
      SaveState(board, options.statePath);
      hungUpAt = kNever;
    }
    // Hand out what the line has sent, then sleep until the board's next event or some input.
    out.clear();
    const Micros ranUntil = boardClock.Now();
    boardPort.DeliverCarried(ranUntil);
    if (board) board->TakeOutput(&out, ranUntil);
    if (!out.empty()) {
      if (client.get() >= 0 && !SendAll(client.get(), Rfc2217Session::EscapeData(out.data(), out.size())))
        hangUp();
      if (pty.get() >= 0) (void)!write(pty.get(), out.data(), out.size());
    }
    datagrams.clear();
    if (board) board->TakeDatagrams(&datagrams, ranUntil);
    network.Send(datagrams);
    Micros next = board ? board->NextEventTime() : kNever, now = boardClock.Now();
    const Micros nextCarried = boardPort.NextCarried();
    boardPort.SetInputWindow(ranUntil, next);
    // Microseconds, not milliseconds: a datagram and its answer take a fraction of one.
    Micros timeoutUs = 200000;
    if (next != kNever) timeoutUs = next <= now ? 0 : std::min<Micros>(next - now, timeoutUs);
    // Bytes the line carries are handed over a millisecond at a time, each at its own time: the
    // board never runs past one it has not got (they go first at every wake), only its answer may
    // leave up to a millisecond late, and devsim wakes a thousand times a second instead of 11,520.
    if (nextCarried != kNever) {
      const Micros wake = nextCarried + kCarriedLatency;
      timeoutUs = wake <= now ? 0 : std::min<Micros>(wake - now, timeoutUs);
    }
    if (hungUpAt != kNever && client.get() < 0) {
      const Micros saveAt = hungUpAt + kSaveAfterHangUp, serverNow = clock.Now();
      timeoutUs = std::min<Micros>(timeoutUs, saveAt <= serverNow ? 0 : saveAt - serverNow);
    }

    // A full server buffer takes nothing more from the host until the line has carried some.
    const short clientEvents = boardPort.Queued() < kServerBuffer ? POLLIN : 0;
    fds.assign({{listener.get(), POLLIN, 0}, {client.get(), clientEvents, 0}, {pty.get(), POLLIN, 0}});
    network.AddPollFds(&fds);
    const size_t jigFirst = fds.size();
    if (jig) jig->AddPollFds(&fds);
    const timespec timeout{static_cast<time_t>(timeoutUs / 1000000),
                           static_cast<long>(timeoutUs % 1000000 * 1000)};
    int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (ready <= 0) continue;
    bool datagramWaiting = false;
    for (size_t i = 3; i < jigFirst; ++i) datagramWaiting = datagramWaiting || (fds[i].revents & POLLIN);
    if (datagramWaiting) {
      // As the line's input: an answer read late because devsim was held up reaches the board
      // before its next time-out.
      const Micros limit = next == kNever ? kNever : std::max(ranUntil, next - 1);
      network.Receive(board, std::max(ranUntil, std::min(boardClock.Now(), limit)));
    }
    // The jig first: bytes the host sends after a board was put on reach that board.
    if (jig && jig->Serve(fds, jigFirst)) {
      board = jig->OnJig();
      boardClock.Restart();
      boardPort.SetBoard(board);
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) readClient(0);
    // After the client's own hang-up, so that a host that closes and reopens at once is served:
    // its hang-up may stand behind more input than one read takes, so what it left is read first.
    if (fds[0].revents & POLLIN) {
      int fd = accept(listener.get(), nullptr, nullptr);
      while (fd >= 0 && client.get() >= 0 && readClient(MSG_DONTWAIT)) {
      }
      if (fd >= 0 && client.get() >= 0) {
        close(fd);  // one client at a time, as a serial port
      } else if (fd >= 0) {
        int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        client.Reset(fd);
        session = Rfc2217Session();
      }
    }
    if (fds[2].revents & POLLIN) {
      ssize_t n = read(pty.get(), buffer, sizeof buffer);
      boardPort.BeginInput();
      for (ssize_t i = 0; i < n; ++i) boardPort.OnData(buffer[i]);
    }
  }
  SaveState(board, options.statePath);
  std::printf("devsim: stopped\n");
  return 0;
}

}  // namespace sim
