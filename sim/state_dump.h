// The board's state as text, for people and for scripts that check a flashing run: what each NAND
// region holds, the saved U-Boot environment, whether the kernel copies equal the uploaded kernel.
#pragma once

#include <map>
#include <string>

#include "sim/firmware.h"

namespace sim {

std::string DescribeBoardState(const BoardState& board);

// The saved U-Boot environment at kUbootEnvOffset; false when the block is erased or its CRC fails.
bool ReadSavedEnvironment(const Nand& nand, std::map<std::string, std::string>* env);

}  // namespace sim
