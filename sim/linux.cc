#include "sim/firmware.h"

namespace sim {

// Until Linux is built the board stops silently after bootm.
void RunLinux(Uart& uart, BoardState&) {
  for (;;) uart.Receive(kNever);
}

}  // namespace sim
