#include "sim/images.h"

#include <cstring>

#include "sim/crc.h"
#include "sim/firmware_io.h"

namespace sim {

namespace {

// A deterministic stand-in for machine code: different for every kind and size.
void FillPayload(uint8_t* data, size_t size, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data[i] = static_cast<uint8_t>(x >> 24);
  }
}

uint32_t GetBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}

void PutBe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

const char* KindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::kFlasher: return "serial flasher";
    case ImageKind::kUbl: return "UBL";
    case ImageKind::kUBoot: return "U-Boot";
  }
  return "?";
}

}  // namespace

std::vector<uint8_t> MakeBootImage(ImageKind kind, size_t totalSize, const std::string& name) {
  if (totalSize < kIdentitySize) totalSize = kIdentitySize;
  std::vector<uint8_t> image(totalSize, 0);
  size_t payload = totalSize - kIdentitySize;
  FillPayload(image.data() + kIdentitySize, payload, static_cast<uint32_t>(kind) * 7919u + static_cast<uint32_t>(totalSize));
  PutLe32(&image[0], kIdentityMagic);
  PutLe32(&image[4], static_cast<uint32_t>(kind));
  PutLe32(&image[8], static_cast<uint32_t>(payload));
  PutLe32(&image[12], Crc32(image.data() + kIdentitySize, payload));
  std::memcpy(&image[16], name.data(), name.size() < 15 ? name.size() : 15);
  return image;
}

bool CheckBootImage(const uint8_t* data, size_t size, ImageKind kind, std::string* why) {
  if (size < kIdentitySize || GetLe32(data) != kIdentityMagic) {
    *why = "no image identity";
    return false;
  }
  if (GetLe32(data + 4) != static_cast<uint32_t>(kind)) {
    *why = std::string("not a ") + KindName(kind) + " image";
    return false;
  }
  uint32_t payload = GetLe32(data + 8);
  if (payload > size - kIdentitySize) {
    *why = "image cut short";
    return false;
  }
  if (Crc32(data + kIdentitySize, payload) != GetLe32(data + 12)) {
    *why = "payload CRC mismatch";
    return false;
  }
  return true;
}

std::string BootImageName(const uint8_t* data, size_t size) {
  if (size < kIdentitySize) return "";
  return std::string(reinterpret_cast<const char*>(data + 16), strnlen(reinterpret_cast<const char*>(data + 16), 16));
}

NandDescriptor ReadDescriptor(const Nand& nand, uint32_t blockOffset) {
  std::vector<uint8_t> page = nand.Read(blockOffset, 28);
  NandDescriptor d;
  if (page.size() < 28) return d;
  d.magic = GetLe32(&page[0]);
  d.entryPoint = GetLe32(&page[4]);
  d.pageCount = GetLe32(&page[8]);
  d.startBlock = GetLe32(&page[12]);
  d.startPage = GetLe32(&page[16]);
  d.loadAddress = GetLe32(&page[20]);
  d.byteCount = GetLe32(&page[24]);
  return d;
}

std::vector<uint8_t> EncodeDescriptor(const NandDescriptor& d) {
  std::vector<uint8_t> page(28);
  PutLe32(&page[0], d.magic);
  PutLe32(&page[4], d.entryPoint);
  PutLe32(&page[8], d.pageCount);
  PutLe32(&page[12], d.startBlock);
  PutLe32(&page[16], d.startPage);
  PutLe32(&page[20], d.loadAddress);
  PutLe32(&page[24], d.byteCount);
  return page;
}

std::vector<uint8_t> ReadDescribedImage(const Nand& nand, const NandDescriptor& d) {
  uint64_t pagesPerBlock = kNandEraseBlock / kNandPage;
  uint64_t start = (static_cast<uint64_t>(d.startBlock) * pagesPerBlock + d.startPage) * kNandPage;
  if (d.startPage >= pagesPerBlock || static_cast<uint64_t>(d.pageCount) * kNandPage < d.byteCount ||
      start + d.byteCount > kNandSize)
    return {};
  return nand.Read(static_cast<uint32_t>(start), d.byteCount);
}

void WriteBootImageToNand(Nand& nand, uint32_t blockOffset, uint32_t magic, uint32_t entryPoint,
                          uint32_t loadAddress, const std::vector<uint8_t>& image) {
  uint32_t size = static_cast<uint32_t>(image.size());
  uint32_t pages = (size + kNandPage - 1) / kNandPage;
  nand.Erase(blockOffset, (pages + 1) * kNandPage);
  NandDescriptor d;
  d.magic = magic;
  d.entryPoint = entryPoint;
  d.pageCount = pages;
  d.startBlock = blockOffset / kNandEraseBlock;
  d.startPage = 1;
  d.loadAddress = loadAddress;
  d.byteCount = size;
  nand.Program(blockOffset, EncodeDescriptor(d));
  nand.Program(blockOffset + kNandPage, image);
}

void InstallBootLoaders(Nand& nand) {
  std::vector<ImageFile> files = MakeImageFiles();
  WriteBootImageToNand(nand, kUblOffset, kUblMagic, kUblEntryPoint, kUblLoadAddress, files[1].bytes);
  WriteBootImageToNand(nand, kUbootOffset, kUBootMagic, kUBootEntryPoint, kUBootLoadAddress, files[2].bytes);
}

std::vector<uint8_t> MakeUImage(size_t dataSize, const std::string& name) {
  std::vector<uint8_t> image(kUImageHeaderSize + dataSize, 0);
  FillPayload(image.data() + kUImageHeaderSize, dataSize, 0x27051956u ^ static_cast<uint32_t>(dataSize));
  uint8_t* h = image.data();
  PutBe32(h + 0, kUImageMagic);
  PutBe32(h + 8, 0x4E8F2A10);  // time stamp
  PutBe32(h + 12, static_cast<uint32_t>(dataSize));
  PutBe32(h + 16, 0x80008000);  // load address
  PutBe32(h + 20, 0x80008000);  // entry point
  PutBe32(h + 24, Crc32(image.data() + kUImageHeaderSize, dataSize));
  h[28] = 5;  // Linux
  h[29] = 2;  // ARM
  h[30] = 2;  // kernel
  h[31] = 0;  // not compressed
  std::memcpy(h + 32, name.data(), name.size() < 31 ? name.size() : 31);
  PutBe32(h + 4, Crc32(h, kUImageHeaderSize));
  return image;
}

bool CheckUImage(const uint8_t* data, size_t size, size_t* length, std::string* why) {
  if (size < kUImageHeaderSize || GetBe32(data) != kUImageMagic) {
    *why = "bad magic number";
    return false;
  }
  uint8_t header[kUImageHeaderSize];
  std::memcpy(header, data, kUImageHeaderSize);
  std::memset(header + 4, 0, 4);
  if (Crc32(header, kUImageHeaderSize) != GetBe32(data + 4)) {
    *why = "bad header checksum";
    return false;
  }
  uint32_t dataSize = GetBe32(data + 12);
  if (dataSize > size - kUImageHeaderSize) {
    *why = "image cut short";
    return false;
  }
  if (Crc32(data + kUImageHeaderSize, dataSize) != GetBe32(data + 24)) {
    *why = "bad data CRC";
    return false;
  }
  *length = kUImageHeaderSize + dataSize;
  return true;
}

std::vector<ImageFile> MakeImageFiles() {
  std::vector<ImageFile> files;
  files.push_back({"sft_DM6446_NAND.bin", MakeBootImage(ImageKind::kFlasher, 15846, "sft 1.50 sim")});
  files.push_back({"ubl_DM6446_NAND.bin", MakeBootImage(ImageKind::kUbl, 14336, "UBL 1.50 sim")});
  files.push_back({"uboot.large.bin", MakeBootImage(ImageKind::kUBoot, 204800, "U-Boot 1.3.4")});
  files.push_back({"uImage", MakeUImage(2097152 + 37731, "Linux-2.6.18_pro500-davinci")});
  return files;
}

}  // namespace sim
