#include "sim/uboot_loady.h"

#include <cstdlib>

#include "sim/crc.h"

namespace sim {

namespace {

constexpr Micros kSecond = 1000000;
constexpr Micros kCharTimeout = kSecond;     // between the bytes of one block
constexpr Micros kBlockTimeout = 10 * kSecond;  // for the next block once the header is in
constexpr int kMaxPolls = 60;                // C requests before giving up
constexpr int kMaxErrors = 10;               // consecutive refused blocks before giving up

enum class BlockStatus { kOk, kTimeout, kBadComplement, kBadCrc };

struct Block {
  uint8_t number = 0;
  std::vector<uint8_t> payload;
};

// The rest of a block whose start byte (SOH or STX) has arrived.
BlockStatus ReadBlock(Uart& uart, uint8_t start, Block* block) {
  const size_t size = start == kStx ? 1024 : 128;
  std::vector<uint8_t> raw(size + 4);
  for (uint8_t& b : raw) {
    const int c = uart.Receive(kCharTimeout);
    if (c < 0) return BlockStatus::kTimeout;
    b = static_cast<uint8_t>(c);
  }
  block->number = raw[0];
  block->payload.assign(raw.begin() + 2, raw.begin() + 2 + size);
  if (static_cast<uint8_t>(raw[0] + raw[1]) != 0xFF) return BlockStatus::kBadComplement;
  const uint16_t crc = static_cast<uint16_t>(raw[size + 2] << 8 | raw[size + 3]);
  if (Crc16Xmodem(block->payload.data(), size) != crc) return BlockStatus::kBadCrc;
  return BlockStatus::kOk;
}

void Cancel(Uart& uart) { uart.Send(std::string{char(kCan), char(kCan)}); }

}  // namespace

YmodemResult ReceiveYmodem(Uart& uart, const Faults& faults) {
  YmodemResult result;
  bool haveHeader = false;
  long long announced = -1;  // file length from the header block, -1 when not given
  uint8_t lastNumber = 0;
  int blockIndex = 0;        // 0 the header block, then the data blocks in order
  bool nakDone = false;
  int errors = 0;
  int polls = 0;
  Micros nextPoll = uart.Now();

  // Answers a good block, unless a fault says otherwise.
  auto answer = [&](int index) {
    if (index == faults.noAckBlock) return;
    if (index == 0 && faults.cForAck) return uart.Send("C");
    uart.Send(std::string(1, char(kAck)));
  };

  for (;;) {
    int c;
    if (!haveHeader) {
      // Ask for CRC mode once a second until the first block starts. A byte that starts no block
      // (the line end typed after "loady") is passed over and brings no request forward.
      if (uart.Now() >= nextPoll) {
        if (polls++ == kMaxPolls) {
          Cancel(uart);
          result.error = "Timed out";
          return result;
        }
        if (polls == 1 || !faults.noAnnounceRepeat) uart.Send("C");
        nextPoll = uart.Now() + kSecond;
      }
      c = uart.Receive(nextPoll - uart.Now());
      if (c < 0) continue;
    } else {
      c = uart.Receive(kBlockTimeout);
      if (c < 0) {
        Cancel(uart);
        result.error = "Timed out";
        return result;
      }
    }

    if (c == kEot) {
      if (!haveHeader) continue;  // nothing was sent yet: not ours to end
      if (faults.noAckBlock != -2) uart.Send(std::string(1, char(kAck)));
      if (announced >= 0 && static_cast<long long>(result.data.size()) < announced) {
        result.error = "Short file: " + std::to_string(result.data.size()) + " of " +
                       std::to_string(announced) + " bytes received";
        return result;
      }
      if (announced >= 0) result.data.resize(static_cast<size_t>(announced));
      result.complete = true;
      return result;
    }
    if (c == kCan) {
      if (uart.Receive(kCharTimeout) == kCan) {
        result.error = "Cancelled";
        return result;
      }
      continue;
    }
    if (c != kSoh && c != kStx) continue;  // line noise between blocks is ignored

    Block block;
    const BlockStatus status = ReadBlock(uart, static_cast<uint8_t>(c), &block);
    if (status != BlockStatus::kOk) {
      uart.DropInput();
      uart.Send(std::string(1, char(kNak)));
      if (++errors >= kMaxErrors) {
        Cancel(uart);
        result.error = "CRC/checksum error";
        return result;
      }
      continue;
    }
    // A good block: its number decides what it is.
    if (haveHeader && block.number == lastNumber) {
      uart.Send(std::string(1, char(kAck)));  // our ACK was lost: the sender repeats
      continue;
    }
    const uint8_t expected = haveHeader ? static_cast<uint8_t>(lastNumber + 1) : 0;
    if (block.number != expected) {
      Cancel(uart);
      result.error = "Block sequence error";
      return result;
    }
    if (blockIndex == faults.nakBlock && !nakDone) {
      nakDone = true;
      uart.Send(std::string(1, char(kNak)));
      continue;
    }
    errors = 0;
    if (!haveHeader) {
      const std::string payload(block.payload.begin(), block.payload.end());
      result.fileName = payload.substr(0, payload.find('\0'));
      if (result.fileName.empty()) {  // an empty batch: nothing to receive
        uart.Send(std::string(1, char(kAck)));
        result.complete = true;
        return result;
      }
      const size_t digits = result.fileName.size() + 1;
      if (digits < payload.size() && payload[digits] >= '0' && payload[digits] <= '9')
        announced = std::strtoll(payload.c_str() + digits, nullptr, 10);
      haveHeader = true;
    } else {
      result.data.insert(result.data.end(), block.payload.begin(), block.payload.end());
    }
    lastNumber = block.number;
    answer(blockIndex++);
  }
}

}  // namespace sim
