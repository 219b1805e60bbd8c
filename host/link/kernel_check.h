// The kernel in the board's memory, checked against the local uImage before it is copied into
// NAND: U-Boot's iminfo verifies the image's header and data checksums, and the 64-byte header
// read back from memory must be the file's own (big-endian: data size at offset 12, data CRC at
// 24, name at 32, at most 32 characters). The header holds the data CRC iminfo has just verified,
// so equal headers prove that the data in memory are the file's.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

class RS232;

constexpr uint32_t kKernelLoadAddress = 0x80700000u;
constexpr size_t kKernelHeaderSize = 64;

struct KernelImageHeader {
  std::array<uint8_t, kKernelHeaderSize> bytes{};
  uint32_t dataSize = 0;
  std::string name;
};

// Reads the header from the start of file (its position is left there). False, with the reason
// printed, when the file is too short or no U-Boot image.
bool ReadKernelImageHeader(std::FILE* file, const char* fileName, KernelImageHeader* header);

// Types "iminfo 80700000" at the U-Boot prompt and requires "Verifying Checksum ... OK", then
// reads the header back from memory with md and requires it to equal the expected one byte for
// byte. 1 on success, 0 on failure (reason printed).
int CheckKernelInMemory(RS232* port, const KernelImageHeader& expected);

// The same check of an image at any address in the board's memory, without a word of its own, for
// a board that waits at its prompt: iminfo goes out as the port is set.
enum class ImageVerdict {
  kEqual,     // iminfo verified it and its header is the expected one
  kBad,       // iminfo refused it (bad magic, header checksum or data CRC)
  kOther,     // a sound image, but not the expected one
  kNoAnswer,  // iminfo or md did not answer in time
};
// *words gets what was wrong, in U-Boot's words ("Bad Data CRC") or as "another image: NAME".
ImageVerdict CheckImageAt(RS232* port, const KernelImageHeader& expected, uint32_t address, std::string* words);

