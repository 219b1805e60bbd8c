#include "sim/firmware.h"

namespace sim {

// Until U-Boot is built the board stops silently after its UBL.
void RunUBoot(Uart& uart, BoardState&) {
  for (;;) uart.Receive(kNever);
}

}  // namespace sim
