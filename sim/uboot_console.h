// U-Boot's console input: the autoboot countdown and the line editor (echo, a 256-byte buffer
// of which 254 characters take text, backspace, Ctrl-U, Ctrl-C).
#pragma once

#include <optional>
#include <string>

#include "sim/firmware.h"

namespace sim {

constexpr size_t kConsoleBufferSize = 256;  // CFG_CBSIZE: text, line end and NUL

// "Hit any key to stop autoboot: %2d " counting down once a second; a key (typed ahead or
// during the count) stops it and is consumed. True when stopped by a key. A negative delay
// skips the countdown (no autoboot, false); zero still takes a key already waiting.
bool CountDownAutoboot(Uart& uart, int bootDelay);

class LineEditor {
 public:
  LineEditor(Uart& uart, BoardState& board) : uart_(uart), board_(board) {}
  // Shows prompt and reads one line, echoing what is kept; CR or LF ends it. Past 254
  // characters each further one is refused with a bell, as U-Boot does. Nothing for Ctrl-C.
  std::optional<std::string> ReadLine(const std::string& prompt);

 private:
  // The next typed character, or -1 when it came too soon after the last one taken, is the one the
  // lose-char fault drops or came after the hang-at-char fault; double-char and change-char alter it.
  int NextCharacter();

  Uart& uart_;
  BoardState& board_;
  Micros lastTaken_ = 0;
  bool anyTaken_ = false;
  int doubled_ = -1;   // a character to take once more
  bool hung_ = false;  // until the next reset
};

}  // namespace sim
