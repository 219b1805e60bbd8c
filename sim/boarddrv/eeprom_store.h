// The board EEPROM as the simulated driver keeps it: 16-bit words, the variable image of the user
// layer from word address 0x2000 on (8-byte header and up to 16384 data bytes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simboard {

constexpr uint32_t kUserAreaStart = 0x2000;
constexpr uint32_t kUserAreaWords = (8 + 16384) / 2;
constexpr uint32_t kEepromWords = kUserAreaStart + kUserAreaWords;
constexpr uint16_t kErasedWord = 0xFFFF;

class WordStore {
 public:
  virtual ~WordStore() = default;
  virtual uint16_t Read(uint32_t address) const = 0;
  virtual void Write(uint32_t address, uint16_t value) = 0;
};

// For unit tests: the words in memory, erased at start.
class MemoryWordStore : public WordStore {
 public:
  MemoryWordStore() : words_(kEepromWords, kErasedWord) {}
  uint16_t Read(uint32_t address) const override { return words_.at(address); }
  void Write(uint32_t address, uint16_t value) override { words_.at(address) = value; }

 private:
  std::vector<uint16_t> words_;
};

// For the shim: the words in a file (two bytes a word, little-endian), read and written through at
// every access so that runs one after another, or at the same time, see one EEPROM.
class FileWordStore : public WordStore {
 public:
  explicit FileWordStore(const std::string& path);  // creates an erased EEPROM when missing
  ~FileWordStore() override;
  FileWordStore(const FileWordStore&) = delete;
  FileWordStore& operator=(const FileWordStore&) = delete;
  bool ok() const { return fd_ >= 0; }
  uint16_t Read(uint32_t address) const override;
  void Write(uint32_t address, uint16_t value) override;

 private:
  int fd_ = -1;
};

// The bytes of the user layer file: the image held in the words from 0x2000 on, as long as its
// size field says (at most the whole user area).
std::vector<uint8_t> UserLayerImage(const WordStore& store);

// Puts an image into the user area, two bytes a word (tests and store set-up).
void StoreUserImage(WordStore& store, const std::vector<uint8_t>& image);

// A variable image of the given entries: size, CRC-32, entries each with its NUL, final NUL.
std::vector<uint8_t> MakeImage(const std::vector<std::string>& entries);

// The factory-default layer that "/proc/eeprom/defaults" yields.
std::vector<uint8_t> FactoryImage();
const std::vector<std::string>& FactoryEntries();

// IEEE 802.3 CRC-32, written here from the board's side.
uint32_t ImageCrc32(const uint8_t* data, size_t length);

}  // namespace simboard
