#include "sim/firmware_io.h"

#include <cstdio>

namespace sim {

void SendMessage(Uart& uart, const char* text) { uart.Send(std::string(text) + '\0'); }

void SendLine(Uart& uart, const std::string& text) { uart.Send(text + "\r\n"); }

void WaitForMessage(Uart& uart, const std::string& message, const char* announce, bool repeat) {
  std::string window;
  for (;;) {
    if (announce) SendMessage(uart, announce);
    Micros until = uart.Now() + kSecond;
    for (;;) {
      Micros now = uart.Now();
      bool timed = announce && repeat;
      if (timed && now >= until) break;
      int byte = uart.Receive(timed ? until - now : kNever);
      if (byte < 0) continue;
      window += static_cast<char>(byte);
      if (window.size() > message.size()) window.erase(0, window.size() - message.size());
      if (window == message) return;
    }
  }
}

std::string ReceiveExactly(Uart& uart, size_t count) {
  std::string text;
  text.reserve(count);
  while (text.size() < count) {
    int byte = uart.Receive(kNever);
    if (byte >= 0) text += static_cast<char>(byte);
  }
  return text;
}

bool ParseHex(const std::string& text, size_t pos, size_t length, uint32_t* value) {
  if (pos + length > text.size() || length == 0 || length > 8) return false;
  uint32_t v = 0;
  for (size_t i = pos; i < pos + length; ++i) {
    char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
    else return false;
    v = v << 4 | digit;
  }
  *value = v;
  return true;
}

std::string Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

void Note(BoardState& board, const std::string& event) {
  constexpr size_t kKeep = 500;
  if (board.events.size() >= kKeep) board.events.erase(board.events.begin());
  board.events.push_back(event);
}

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace sim
