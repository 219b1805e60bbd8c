#include "sim/firmware_thread.h"

#include <algorithm>
#include <exception>

namespace sim {

namespace {
// Firmware unwinds by BoardReset; this one only ends the thread.
struct Shutdown {};

// A datagram's time on a 100 Mbit/s Ethernet link: 80 ns a byte for the UDP, IP and Ethernet
// headers, the frame check, preamble and gap (at least a minimal 64-byte frame).
Micros WireTime(const Datagram& datagram) {
  constexpr size_t kFraming = 8 + 20 + 14 + 4;  // UDP, IP, Ethernet header, frame check
  constexpr size_t kMinimalFrame = 64;
  constexpr size_t kPreambleAndGap = 8 + 12;
  const size_t frame = std::max(datagram.payload.size() + kFraming, kMinimalFrame);
  return ((frame + kPreambleAndGap) * 80 + 999) / 1000;
}
}  // namespace

FirmwareThread::FirmwareThread(std::function<void(Uart&)> boot, uint64_t txByteNs, double speed,
                               unsigned long* lostInput)
    : boot_(std::move(boot)), txByteNs_(txByteNs), speed_(speed), lostInput_(lostInput) {
  std::unique_lock<std::mutex> lock(mutex_);
  thread_ = std::thread(&FirmwareThread::ThreadMain, this);
  turnChanged_.wait(lock, [this] { return !firmwareTurn_; });
}

FirmwareThread::~FirmwareThread() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    shutdown_ = true;
    Resume(lock);
  }
  thread_.join();
}

void FirmwareThread::ThreadMain() {
  try {
    for (;;) {
      Park(Wait::kBoot, bootAt_);
      try {
        try {
          boot_(*this);
        } catch (const std::exception&) {
          // A firmware fault: like a crashed board, it says nothing more until the next reset.
        }
        for (;;) Receive(kNever);  // the firmware returned: the board hangs until a reset
      } catch (const BoardReset&) {
        if (shutdown_) throw Shutdown();
      }
    }
  } catch (const Shutdown&) {
  }
  std::lock_guard<std::mutex> lock(mutex_);
  firmwareTurn_ = false;
  turnChanged_.notify_all();
}

void FirmwareThread::Park(Wait wait, Micros wakeAt) {
  std::unique_lock<std::mutex> lock(mutex_);
  wait_ = wait;
  wakeAt_ = wakeAt;
  firmwareTurn_ = false;
  turnChanged_.notify_all();
  turnChanged_.wait(lock, [this] { return firmwareTurn_; });
  if (shutdown_) throw Shutdown();
  if (wait == Wait::kBoot) resetPending_ = false;
}

void FirmwareThread::ThrowIfReset() {
  if (resetPending_ || shutdown_) throw BoardReset();
}

void FirmwareThread::Resume(std::unique_lock<std::mutex>& lock) {
  firmwareTurn_ = true;
  turnChanged_.notify_all();
  turnChanged_.wait(lock, [this] { return !firmwareTurn_; });
}

Micros FirmwareThread::WakeTime() const {
  if (wait_ != Wait::kInput) return wakeAt_;
  if (!input_.empty()) return std::max(fwNow_, input_.front().first);
  // A datagram still on the wire when the wait ends does not hold the time-out up.
  if (waitsForDatagram_ && !datagramsIn_.empty())
    return std::min(wakeAt_, std::max(fwNow_, datagramsIn_.front().first));
  return wakeAt_;
}

void FirmwareThread::RunUntil(Micros t, bool before) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Micros wake = WakeTime();
    if (wake == kNever || wake > t || (before && wake == t)) break;
    fwNow_ = std::max(fwNow_, wake);
    Resume(lock);
  }
  now_ = std::max(now_, t);
}

Micros FirmwareThread::NextWakeTime() const { return WakeTime(); }

Micros FirmwareThread::NextOutputTime() const {
  Micros next = output_.empty() ? kNever : output_.front().first;
  if (!datagramsOut_.empty()) next = std::min(next, datagramsOut_.front().first);
  return next;
}

void FirmwareThread::Reset(Micros at, Micros bootAt) {
  RunUntil(at);
  std::unique_lock<std::mutex> lock(mutex_);
  // What the transmitter had not finished is lost with the reset.
  while (!output_.empty() && output_.back().first > at) output_.pop_back();
  while (!datagramsOut_.empty() && datagramsOut_.back().first > at) datagramsOut_.pop_back();
  input_.clear();
  datagramsIn_.clear();
  polled_ = false;
  crBeforeLf_ = false;
  txFreeNs_ = at * 1000;
  held_ = bootAt == kNever;
  bootAt_ = bootAt;
  if (wait_ != Wait::kBoot) {
    fwNow_ = std::max(fwNow_, at);
    resetPending_ = true;
    Resume(lock);  // the firmware unwinds and parks until boot
  } else {
    wakeAt_ = bootAt;
  }
}

void FirmwareThread::Release(Micros bootAt) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!held_) return;
  held_ = false;
  bootAt_ = bootAt;
  if (wait_ == Wait::kBoot) wakeAt_ = bootAt;
}

void FirmwareThread::PushInput(const uint8_t* bytes, size_t count, Micros at) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (held_ || wait_ == Wait::kBoot) return;  // nobody listens while the board is in reset
  for (size_t i = 0; i < count; ++i) {
    // A polled UART whose firmware is busy in a delay: the FIFO is full, the character is lost.
    if (polled_ && wait_ == Wait::kTimer && input_.size() >= kReceiveFifo) {
      ++*lostInput_;
      continue;
    }
    input_.emplace_back(std::max(at, now_), bytes[i]);
  }
}

size_t FirmwareThread::TakeOutput(std::vector<uint8_t>* out, Micros now) {
  RunUntil(now);
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  while (!output_.empty() && output_.front().first <= now) {
    out->push_back(output_.front().second);
    output_.pop_front();
    ++n;
  }
  return n;
}

void FirmwareThread::PushDatagram(Datagram datagram, Micros at) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (held_ || wait_ == Wait::kBoot) return;
  const Micros arrives = std::max({at, now_, linkRxFree_}) + WireTime(datagram);
  linkRxFree_ = arrives;
  datagramsIn_.emplace_back(arrives, std::move(datagram));
}

void FirmwareThread::TakeDatagrams(std::vector<Datagram>* out, Micros now) {
  RunUntil(now);
  std::lock_guard<std::mutex> lock(mutex_);
  while (!datagramsOut_.empty() && datagramsOut_.front().first <= now) {
    out->push_back(std::move(datagramsOut_.front().second));
    datagramsOut_.pop_front();
  }
}

// The firmware's side. These run only while the driver waits in Resume, so they touch the shared
// fields without the lock; the lock's hand-over orders the memory.

void FirmwareThread::Send(const std::string& bytes) {
  ThrowIfReset();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (crBeforeLf_ && bytes[i] == '\n') SendByte('\r');
    SendByte(bytes[i]);
  }
}

void FirmwareThread::SendByte(char c) {
  Micros done = fwNow_;
  if (txByteNs_ != 0) {
    uint64_t start = std::max(txFreeNs_, fwNow_ * 1000);
    txFreeNs_ = start + txByteNs_;
    done = (txFreeNs_ + 999) / 1000;
  }
  output_.emplace_back(done, static_cast<uint8_t>(c));
}

int FirmwareThread::Receive(Micros timeout) {
  ThrowIfReset();
  if (input_.empty() && timeout != 0) {
    Park(Wait::kInput, timeout == kNever ? kNever : fwNow_ + timeout);
    ThrowIfReset();
  }
  if (input_.empty()) return -1;
  uint8_t byte = input_.front().second;
  input_.pop_front();
  return byte;
}

bool FirmwareThread::HasInput() {
  ThrowIfReset();
  return !input_.empty();
}

void FirmwareThread::DropInput() {
  ThrowIfReset();
  input_.clear();
}

void FirmwareThread::SendDatagram(const Datagram& datagram) {
  ThrowIfReset();
  linkTxFree_ = std::max(linkTxFree_, fwNow_) + WireTime(datagram);
  datagramsOut_.emplace_back(linkTxFree_, datagram);
}

bool FirmwareThread::ReceiveDatagram(Datagram* datagram, Micros timeout) {
  ThrowIfReset();
  const bool arrived = !datagramsIn_.empty() && datagramsIn_.front().first <= fwNow_;
  if (!arrived && input_.empty() && timeout != 0) {
    waitsForDatagram_ = true;
    Park(Wait::kInput, timeout == kNever ? kNever : fwNow_ + timeout);
    waitsForDatagram_ = false;
    ThrowIfReset();
  }
  // Only what has crossed the link by now counts; a console character ends the wait first.
  if (datagramsIn_.empty() || datagramsIn_.front().first > fwNow_) return false;
  *datagram = std::move(datagramsIn_.front().second);
  datagramsIn_.pop_front();
  return true;
}

void FirmwareThread::Delay(Micros duration) {
  ThrowIfReset();
  if (speed_ <= 0 || duration == 0) return;
  Micros scaled = static_cast<Micros>(static_cast<double>(duration) / speed_);
  if (scaled == 0) return;
  // What arrived together with the line the firmware took went on arriving, a character at a
  // time, while it began this work: a polled UART keeps the first 16 of it.
  while (polled_ && input_.size() > kReceiveFifo) {
    input_.pop_back();
    ++*lostInput_;
  }
  Park(Wait::kTimer, fwNow_ + scaled);
  ThrowIfReset();
}

}  // namespace sim
