// For the sim's own tests: drives a Board from the host's side of the line with hand-built byte
// streams, on a clock of its own.
#pragma once

#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/crc.h"
#include "sim/images.h"

namespace sim {

class TestLine {
 public:
  explicit TestLine(const BoardOptions& options = BoardOptions()) : board_(options) {}

  Board& board() { return board_; }
  BoardState& state() { return board_.state(); }
  Micros now() const { return now_; }

  // Runs the board for d and collects what it sent.
  void Advance(Micros d) {
    now_ += d;
    std::vector<uint8_t> out;
    board_.TakeOutput(&out, now_);
    received_.append(out.begin(), out.end());
  }
  void Send(const std::string& bytes) {
    for (char c : bytes) board_.ReceiveByte(static_cast<uint8_t>(c), now_);
  }
  void Break(Micros length) {
    board_.SetBreak(true, now_);
    Advance(length);
    board_.SetBreak(false, now_);
  }
  // Runs event by event until the received text holds text, at most for limit. False on time-out.
  bool WaitFor(const std::string& text, Micros limit) {
    Micros end = now_ + limit;
    for (;;) {
      if (received_.find(text) != std::string::npos) return true;
      Micros next = board_.NextEventTime();
      if (next == kNever || next > end) {
        Advance(end > now_ ? end - now_ : 0);
        return received_.find(text) != std::string::npos;
      }
      Advance(next > now_ ? next - now_ : 0);
    }
  }
  // What the board sent so far, and forgets it.
  std::string Take() {
    std::string r;
    r.swap(received_);
    return r;
  }
  const std::string& received() const { return received_; }

 private:
  Board board_;
  Micros now_ = 0;
  std::string received_;
};

inline std::string Msg(const char* text) { return std::string(text) + '\0'; }

inline std::string Hex(uint32_t value, int digits) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) s[static_cast<size_t>(i)] = kDigits[value & 15];
  return s;
}

// What a correct host sends the boot ROM for an image, from "    ACK" on.
struct UartBootStreams {
  std::string ack = Msg("    ACK");
  std::string header;
  std::string table;
  std::string words;
};

inline UartBootStreams MakeUartBoot(const std::vector<uint8_t>& image) {
  UartBootStreams s;
  size_t words = (image.size() + 3) / 4;
  uint32_t check = ~Crc32(image.data(), image.size());
  s.header = Hex(check, 8) + Hex(static_cast<uint32_t>(words * 4), 4) + "0100" + "0000";
  for (unsigned i = 0; i < 256; ++i) s.table += Hex(Crc32TableEntry(i), 8);
  for (size_t w = 0; w < words; ++w) {
    uint32_t v = 0;
    for (size_t b = 0; b < 4; ++b) {
      size_t at = w * 4 + b;
      if (at < image.size()) v |= static_cast<uint32_t>(image[at]) << (8 * b);
    }
    s.words += Hex(v, 8);
  }
  return s;
}

inline std::string ImageHeader(uint32_t magic, uint32_t entry, uint32_t size, uint32_t load) {
  return Hex(magic, 8) + Hex(entry, 8) + Hex(size, 8) + Hex(load, 8) + "0000";
}

constexpr Micros kMs = 1000;
constexpr Micros kSec = 1000000;

}  // namespace sim
