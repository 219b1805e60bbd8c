// Runs the board's firmware on a thread of its own, in lock-step with the line's driver: only one
// side runs at a time, and the firmware runs exactly as far as the driver's clock has gone, so the
// firmware reads like the real thing (print, wait for a byte, pause) and stays deterministic.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "sim/firmware.h"

namespace sim {

class FirmwareThread : private Uart, private Ethernet {
 public:
  // boot runs the firmware from a reset; it ends by the next reset (BoardReset) or by returning,
  // after which the board hangs until the next reset. txByteNs: time a byte takes on the line
  // (0: output leaves at once); speed divides device delays (0: none). Characters a polled UART
  // loses are counted into *lostInput.
  FirmwareThread(std::function<void(Uart&)> boot, uint64_t txByteNs, double speed, unsigned long* lostInput);
  ~FirmwareThread();
  FirmwareThread(const FirmwareThread&) = delete;
  FirmwareThread& operator=(const FirmwareThread&) = delete;

  // Lets the firmware run up to time t; with before set, only through what happens before t (so
  // that bytes arriving together at t wake it once, not once each).
  void RunUntil(Micros t, bool before = false);
  // When the firmware next wakes by itself (a timer, a queued byte, the end of a reset); kNever
  // while it waits for input only or is held in reset.
  Micros NextWakeTime() const;
  // When the next queued output byte finishes on the line; kNever when none is queued.
  Micros NextOutputTime() const;
  // Stops the firmware at time at (after running it up to there) and drops what it had not yet
  // sent; it boots again at bootAt (kNever: held until Release).
  void Reset(Micros at, Micros bootAt);
  void Release(Micros bootAt);
  bool HeldInReset() const { return held_; }

  // Bytes that arrived at time at (the firmware must have run up to at).
  void PushInput(const uint8_t* bytes, size_t count, Micros at);
  // Moves out the output bytes finished by now; returns how many.
  size_t TakeOutput(std::vector<uint8_t>* out, Micros now);
  Micros now() const { return now_; }

  // The Ethernet port (the firmware's side, for BoardState::ethernet).
  Ethernet& ethernet() { return *this; }
  // A datagram that reached the board's port at time at; the firmware has it once the link has
  // carried it. Dropped while the board is in reset.
  void PushDatagram(Datagram datagram, Micros at);
  // Moves out the datagrams the link has carried by now.
  void TakeDatagrams(std::vector<Datagram>* out, Micros now);

 private:
  enum class Wait { kBoot, kInput, kTimer };

  // Uart, called on the firmware thread only.
  void Send(const std::string& bytes) override;
  void SendByte(char c);
  int Receive(Micros timeout) override;
  bool HasInput() override;
  void DropInput() override;
  void Delay(Micros duration) override;
  Micros Now() override { return fwNow_; }
  void SetPolled(bool polled) override { polled_ = polled; }
  void SetCrBeforeLf(bool on) override { crBeforeLf_ = on; }

  // Ethernet, called on the firmware thread only.
  void SendDatagram(const Datagram& datagram) override;
  bool ReceiveDatagram(Datagram* datagram, Micros timeout) override;

  void ThreadMain();
  // Firmware side: hands the turn to the driver and waits for it back.
  void Park(Wait wait, Micros wakeAt);
  void ThrowIfReset();
  // Driver side: hands the turn to the firmware and waits for it back.
  void Resume(std::unique_lock<std::mutex>& lock);
  Micros WakeTime() const;

  std::function<void(Uart&)> boot_;
  uint64_t txByteNs_;
  double speed_;
  unsigned long* lostInput_;

  std::mutex mutex_;
  std::condition_variable turnChanged_;
  bool firmwareTurn_ = true;
  bool resetPending_ = false;
  bool shutdown_ = false;
  bool held_ = true;
  bool crBeforeLf_ = false;  // the firmware's serial driver sends "\n" as "\r\n"
  bool polled_ = false;  // the firmware polls the UART: its FIFO overruns while it is busy

  Micros now_ = 0;     // the driver has run the board up to here
  Micros fwNow_ = 0;   // the firmware's clock
  Wait wait_ = Wait::kBoot;
  Micros wakeAt_ = kNever;
  Micros bootAt_ = kNever;  // held until the first power-on
  uint64_t txFreeNs_ = 0;  // when the transmitter has sent what is queued
  std::deque<std::pair<Micros, uint8_t>> input_;
  std::deque<std::pair<Micros, uint8_t>> output_;
  bool waitsForDatagram_ = false;  // the input wait also ends on a datagram
  Micros linkTxFree_ = 0;          // when the link has sent what the firmware queued
  Micros linkRxFree_ = 0;          // when the link has carried what arrived
  std::deque<std::pair<Micros, Datagram>> datagramsIn_;
  std::deque<std::pair<Micros, Datagram>> datagramsOut_;

  std::thread thread_;
};

}  // namespace sim
