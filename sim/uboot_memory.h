// The board's DDR as U-Boot and the kernel see it: 128 MiB at 0x80000000, kept sparse in
// BoardState::ram as chunks (start address -> bytes). Bytes nobody wrote read as zero.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace sim {

using Ram = std::map<uint32_t, std::vector<uint8_t>>;

constexpr uint32_t kDdrStart = 0x80000000u;
constexpr uint32_t kDdrSize = 128u << 20;

// True when [address, address + length) lies inside the DDR.
bool InDdr(uint32_t address, uint64_t length);

std::vector<uint8_t> ReadRam(const Ram& ram, uint32_t address, uint32_t length);
// Overwrites [address, address + size); neighbouring and overlapped chunks are merged.
void WriteRam(Ram& ram, uint32_t address, const std::vector<uint8_t>& bytes);

// The bytes of [address, address + length) without a copy where one chunk holds them all, else
// ReadRam's copy in *scratch: a kernel's megabytes are read many times a run. Valid until the RAM
// or *scratch changes.
const uint8_t* RamBytes(const Ram& ram, uint32_t address, uint32_t length, std::vector<uint8_t>* scratch);
// Where [address, address + length) can be written in place (as WriteRam would leave it): inside
// one chunk. Null otherwise.
uint8_t* RamInPlace(Ram& ram, uint32_t address, uint32_t length);

}  // namespace sim
