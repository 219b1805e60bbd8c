// The images the simulated board runs and how they lie in NAND. The boot ROM, the serial flasher
// and the UBL accept only what these describe, so a host that sends the wrong file, a damaged file
// or a misplaced one sees the board refuse it (or hang, as the real board would).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/firmware.h"

namespace sim {

// Every boot image of the simulated board (flasher, UBL, U-Boot) starts with a 32-byte identity:
// magic "BRNL", kind, payload length, payload CRC-32 (all little-endian), a 16-byte NUL-padded
// name; the payload follows. The firmware that starts an image checks all of it first.
enum class ImageKind : uint32_t { kFlasher = 1, kUbl = 2, kUBoot = 3 };
constexpr uint32_t kIdentityMagic = 0x4C4E5242;  // "BRNL"
constexpr size_t kIdentitySize = 32;

// An image of exactly totalSize bytes (at least kIdentitySize) with a deterministic payload.
std::vector<uint8_t> MakeBootImage(ImageKind kind, size_t totalSize, const std::string& name);
// True when data holds a whole image of that kind; else why tells what is wrong.
bool CheckBootImage(const uint8_t* data, size_t size, ImageKind kind, std::string* why);
std::string BootImageName(const uint8_t* data, size_t size);

// The descriptor page that the boot ROM (for the UBL, block 1) and the UBL (for U-Boot, block 4)
// look for: seven little-endian words at the start of the block's first page, the image from the
// start page on.
constexpr uint32_t kUblMagic = 0xA1ACED00;
constexpr uint32_t kUBootMagic = 0x55424CBB;
constexpr uint32_t kUblEntryPoint = 0x00000100;
constexpr uint32_t kUblLoadAddress = 0x00000020;
constexpr uint32_t kUBootEntryPoint = 0x81080000;
constexpr uint32_t kUBootLoadAddress = 0x81080000;
constexpr uint32_t kUblMaxSize = 14336;                    // the ARM's internal RAM minus stack
constexpr uint32_t kUBootMaxSize = 0x200000 - kUbootOffset - kNandPage;  // up to the first kernel slot

struct NandDescriptor {
  uint32_t magic = 0;
  uint32_t entryPoint = 0;
  uint32_t pageCount = 0;
  uint32_t startBlock = 0;
  uint32_t startPage = 0;
  uint32_t loadAddress = 0;
  uint32_t byteCount = 0;
};

NandDescriptor ReadDescriptor(const Nand& nand, uint32_t blockOffset);
std::vector<uint8_t> EncodeDescriptor(const NandDescriptor& descriptor);
// The bytes the descriptor names (byteCount of them from its start block and page); empty when
// the descriptor points outside the device.
std::vector<uint8_t> ReadDescribedImage(const Nand& nand, const NandDescriptor& descriptor);

// Writes an image behind its descriptor page at blockOffset (erasing what it needs first), as the
// serial flasher does; also how devsim --flashed and the tests put boot loaders into NAND.
void WriteBootImageToNand(Nand& nand, uint32_t blockOffset, uint32_t magic, uint32_t entryPoint,
                          uint32_t loadAddress, const std::vector<uint8_t>& image);
// The UBL and U-Boot of MakeImageFiles, written where the boot chain finds them.
void InstallBootLoaders(Nand& nand);

// Legacy U-Boot image (uImage): 64-byte big-endian header with magic 0x27051956, header CRC and
// data CRC, then the data.
constexpr uint32_t kUImageMagic = 0x27051956;
constexpr size_t kUImageHeaderSize = 64;
std::vector<uint8_t> MakeUImage(size_t dataSize, const std::string& name);
// True when data starts with a uImage whose header and data CRCs hold; *length gets header + data.
bool CheckUImage(const uint8_t* data, size_t size, size_t* length, std::string* why);

// The file names and sizes devsim make-images writes.
struct ImageFile {
  const char* name;
  std::vector<uint8_t> bytes;
};
std::vector<ImageFile> MakeImageFiles();

}  // namespace sim
