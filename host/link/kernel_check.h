// The kernel in the board's memory, checked against the local uImage before it is copied into
// NAND: U-Boot's iminfo verifies the image's checksums and shows its name and data size, which
// must be those of the file's legacy header (64 bytes, big-endian: data size at offset 12, name
// at offset 32, at most 32 characters).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class RS232;

constexpr uint32_t kKernelLoadAddress = 0x80700000u;

struct KernelImageHeader {
  uint32_t dataSize = 0;
  std::string name;
};

// Reads the header from the start of file (its position is left there). False, with the reason
// printed, when the file is too short or no U-Boot image.
bool ReadKernelImageHeader(std::FILE* file, const char* fileName, KernelImageHeader* header);

// Types "iminfo 0x80700000" at the U-Boot prompt and requires "Verifying Checksum ... OK" with the
// expected name and data size. 1 on success, 0 on failure (reason printed).
int CheckKernelInMemory(RS232* port, const KernelImageHeader& expected);
