// devsim's state file: what survives a devsim restart (NAND, RAM, the MMC card, the reset count).
#pragma once

#include <string>

#include "sim/firmware.h"

namespace sim {

// False with *error set when the file cannot be written.
bool SaveBoardState(const BoardState& board, const std::string& path, std::string* error);
// False with *error set when the file cannot be read or is not a state file; board is then unchanged.
bool LoadBoardState(BoardState* board, const std::string& path, std::string* error);

}  // namespace sim
