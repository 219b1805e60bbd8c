#include "sim/board.h"

#include <algorithm>

#include "sim/firmware_io.h"
#include "sim/firmware_thread.h"
#include "sim/network_faults.h"
#include "sim/state_dump.h"

namespace sim {

namespace {

constexpr Micros kBreakResetTime = 100000;  // a break this long restarts the board
// From the release of a reset (or power-on) to the boot ROM's first instruction: the reset
// supervisor's hold time, not scaled by the speed factor. It also keeps the first words after a
// break clear of the purge a host sends right after the break, even over a network port.
constexpr Micros kResetToBootTime = 100000;

// What a receiver set to the wrong baud rate or framing makes of a byte.
uint8_t Garble(uint8_t byte) { return static_cast<uint8_t>((byte ^ 0xA5) | 0x80); }

}  // namespace

class Board::Impl {
 public:
  explicit Impl(const BoardOptions& options)
      : options_(options),
        firmware_([this](Uart& uart) { Boot(uart); },
                  options.baudEmulation ? 10000000000ull / options.baud : 0, options.speed,
                  &state_.lostCharacters) {
    state_.faults = options.faults;
    state_.login = options.login;
    state_.ethernet = &firmware_.ethernet();
    state_.tftpTimeout = Micros{options.tftpTimeoutMs} * 1000;
  }

  void Boot(Uart& uart) { RunBootRom(uart, state_); }

  void RunUntil(Micros t, bool before = false) {
    if (breakOn_ && !breakReset_ && breakStart_ + kBreakResetTime <= t) {
      firmware_.Reset(breakStart_ + kBreakResetTime, kNever);
      breakReset_ = true;
      ++state_.resets;
      Note(state_, "reset by a break on the line");
    }
    firmware_.RunUntil(t, before);
  }

  Micros NextEventTime() const {
    Micros next = std::min(firmware_.NextOutputTime(), firmware_.NextWakeTime());
    if (breakOn_ && !breakReset_) next = std::min(next, breakStart_ + kBreakResetTime);
    return next;
  }

  void SetBreak(bool on, Micros at) {
    RunUntil(at);
    if (on && !breakOn_) {
      breakOn_ = true;
      breakStart_ = at;
      breakReset_ = false;
    } else if (!on && breakOn_) {
      breakOn_ = false;
      if (breakReset_) firmware_.Release(at + kResetToBootTime);
    }
  }

  void ReceiveBytes(const uint8_t* bytes, size_t count, Micros at) {
    RunUntil(at, true);
    if (breakOn_) return;  // the line is held low: no characters
    if (lineOk_) {
      firmware_.PushInput(bytes, count, at);
      return;
    }
    std::vector<uint8_t> garbled(bytes, bytes + count);
    for (uint8_t& byte : garbled) byte = Garble(byte);
    firmware_.PushInput(garbled.data(), count, at);
  }

  size_t TakeOutput(std::vector<uint8_t>* out, Micros now) {
    RunUntil(now);
    size_t first = out->size();
    size_t n = firmware_.TakeOutput(out, now);
    if (!lineOk_)
      for (size_t i = first; i < out->size(); ++i) (*out)[i] = Garble((*out)[i]);
    return n;
  }

  void ReceiveDatagram(Datagram datagram, Micros at) {
    RunUntil(at, true);
    if (ArrivesThroughFaults(state_.faults, &datagram)) firmware_.PushDatagram(std::move(datagram), at);
  }

  void TakeDatagrams(std::vector<Datagram>* out, Micros now) {
    RunUntil(now);
    std::vector<Datagram> sent;
    firmware_.TakeDatagrams(&sent, now);
    for (Datagram& datagram : sent) {
      if (LeavesThroughFaults(state_.faults, &datagram)) out->push_back(std::move(datagram));
    }
  }

  void SetLineSettings(uint32_t baud, int dataBits, char parity, int stopBits) {
    lineOk_ = baud == options_.baud && dataBits == 8 && (parity == 'n' || parity == 'N') && stopBits == 1;
  }

  void PowerCycle(Micros at) {
    RunUntil(at);
    state_.ram.clear();
    state_.lastLoadSize = 0;
    breakOn_ = false;
    firmware_.Reset(at, at + kResetToBootTime);
    Note(state_, "power on");
  }

  BoardState& state() { return state_; }

 private:
  BoardOptions options_;
  BoardState state_;
  bool lineOk_ = true;
  bool breakOn_ = false;
  bool breakReset_ = false;
  Micros breakStart_ = 0;
  FirmwareThread firmware_;  // last: its thread runs Boot(), which uses the fields above
};

Board::Board(const BoardOptions& options) : impl_(new Impl(options)) { impl_->PowerCycle(0); }
Board::~Board() = default;

void Board::SetLineSettings(uint32_t baud, int dataBits, char parity, int stopBits) {
  impl_->SetLineSettings(baud, dataBits, parity, stopBits);
}
void Board::ReceiveByte(uint8_t byte, Micros at) { impl_->ReceiveBytes(&byte, 1, at); }
void Board::ReceiveBytes(const uint8_t* bytes, size_t count, Micros at) { impl_->ReceiveBytes(bytes, count, at); }
void Board::SetBreak(bool on, Micros at) { impl_->SetBreak(on, at); }
void Board::ReceiveDatagram(Datagram datagram, Micros at) { impl_->ReceiveDatagram(std::move(datagram), at); }
void Board::TakeDatagrams(std::vector<Datagram>* out, Micros now) { impl_->TakeDatagrams(out, now); }
void Board::RunUntil(Micros t) { impl_->RunUntil(t); }
Micros Board::NextEventTime() { return impl_->NextEventTime(); }
size_t Board::TakeOutput(std::vector<uint8_t>* out, Micros now) { return impl_->TakeOutput(out, now); }
void Board::PowerCycle(Micros at) { impl_->PowerCycle(at); }
BoardState& Board::state() { return impl_->state(); }
std::string Board::DumpState() { return DescribeBoardState(impl_->state()); }

}  // namespace sim
