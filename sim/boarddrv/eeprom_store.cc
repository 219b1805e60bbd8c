#include "sim/boarddrv/eeprom_store.h"

#include <fcntl.h>
#include <unistd.h>

namespace simboard {

FileWordStore::FileWordStore(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_CREAT, 0644);
  if (fd_ < 0) return;
  off_t end = lseek(fd_, 0, SEEK_END);
  if (end < static_cast<off_t>(kEepromWords * 2)) {
    std::vector<uint8_t> erased(kEepromWords * 2 - static_cast<size_t>(end), 0xFF);
    if (pwrite(fd_, erased.data(), erased.size(), end) != static_cast<ssize_t>(erased.size())) {
      close(fd_);
      fd_ = -1;
    }
  }
}

FileWordStore::~FileWordStore() {
  if (fd_ >= 0) close(fd_);
}

uint16_t FileWordStore::Read(uint32_t address) const {
  uint8_t bytes[2] = {0xFF, 0xFF};
  if (address >= kEepromWords || pread(fd_, bytes, 2, static_cast<off_t>(address) * 2) != 2) return kErasedWord;
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void FileWordStore::Write(uint32_t address, uint16_t value) {
  if (address >= kEepromWords) return;
  const uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
  (void)!pwrite(fd_, bytes, 2, static_cast<off_t>(address) * 2);
}

std::vector<uint8_t> UserLayerImage(const WordStore& store) {
  std::vector<uint8_t> bytes;
  bytes.reserve(kUserAreaWords * 2);
  for (uint32_t k = 0; k < kUserAreaWords; ++k) {
    const uint16_t word = store.Read(kUserAreaStart + k);
    bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<uint8_t>(word >> 8));
  }
  const uint64_t size = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint64_t{bytes[3]} << 24);
  if (8 + size < bytes.size()) bytes.resize(8 + size);
  return bytes;
}

void StoreUserImage(WordStore& store, const std::vector<uint8_t>& image) {
  for (size_t i = 0; i < image.size(); i += 2) {
    const uint16_t high = i + 1 < image.size() ? image[i + 1] : 0;
    store.Write(kUserAreaStart + static_cast<uint32_t>(i / 2), static_cast<uint16_t>(image[i] | (high << 8)));
  }
}

uint32_t ImageCrc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<uint8_t> MakeImage(const std::vector<std::string>& entries) {
  std::vector<uint8_t> data;
  for (const std::string& entry : entries) {
    data.insert(data.end(), entry.begin(), entry.end());
    data.push_back(0);
  }
  data.push_back(0);
  const uint32_t size = static_cast<uint32_t>(data.size());
  const uint32_t crc = ImageCrc32(data.data(), data.size());
  std::vector<uint8_t> image;
  for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(size >> (8 * i)));
  for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  image.insert(image.end(), data.begin(), data.end());
  return image;
}

const std::vector<std::string>& FactoryEntries() {
  static const std::vector<std::string> entries = {
      "bootdelay=3",           "baudrate=115200",           "ipaddr=10.0.1.100",
      "serverip=10.0.1.1",     "netmask=255.255.255.0",     "serialno=QV4N150101000",
      "ethaddr=02:1b:4d:00:00:01", "bootcmd=run bootmmc",   "factoryonly=yes",
  };
  return entries;
}

std::vector<uint8_t> FactoryImage() { return MakeImage(FactoryEntries()); }

}  // namespace simboard
