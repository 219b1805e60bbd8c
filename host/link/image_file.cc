#include "host/link/image_file.h"

#include <cstdio>
#include <iostream>
#include <memory>

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Larger images cannot be described by the 8-digit byte counts of the transfer headers.
constexpr long long kLargestImage = 0xFFFFFFFFll;

}  // namespace

bool LoadImageBytes(const char* fileName, std::vector<uint8_t>* bytes) {
  bytes->clear();
  // "rb" shares the file with other readers on every platform.
  FileHandle file(std::fopen(fileName, "rb"));
  if (!file) {
    std::cout << "Can't open file " << fileName << std::endl;
    return false;
  }
  long length = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) length = std::ftell(file.get());
  if (length < 0 || static_cast<long long>(length) > kLargestImage ||
      std::fseek(file.get(), 0, SEEK_SET) != 0) {
    std::cout << "Error: cannot read image file " << fileName << " (its length is unknown)."
              << std::endl;
    return false;
  }
  if (length == 0) {
    std::cout << "Error: image file " << fileName << " is empty." << std::endl;
    return false;
  }
  return ReadImageBytes(file.get(), fileName, length, bytes);
}

bool ReadImageBytes(std::FILE* file, const char* fileName, long length,
                    std::vector<uint8_t>* bytes) {
  bytes->assign(static_cast<size_t>(length), 0);
  const size_t got = std::fread(bytes->data(), 1, bytes->size(), file);
  if (got != bytes->size()) {
    std::cout << "Error: cannot read image file " << fileName << " (" << got << " of " << length
              << " bytes)." << std::endl;
    bytes->clear();
    return false;
  }
  return true;
}

std::vector<uint32_t> ImageWords(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> words((bytes.size() + 3) / 4, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    words[i / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (i % 4));
  }
  return words;
}

bool LoadImageWords(const char* fileName, std::vector<uint32_t>* words, uint32_t* byteLength) {
  std::vector<uint8_t> bytes;
  words->clear();
  *byteLength = 0;
  if (!LoadImageBytes(fileName, &bytes)) return false;
  *words = ImageWords(bytes);
  *byteLength = static_cast<uint32_t>(bytes.size());
  return true;
}
