// Test helper for the image transfer tests: a fresh folder made the current directory for the
// life of a test (the steps read their images from the current directory), with files in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class ImageFolder {
 public:
  ImageFolder() : previous_(std::filesystem::current_path()) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              ("brenlo-images-" + std::string(test->test_suite_name()) + "-" + test->name() + "-" +
               std::to_string(std::random_device()()));  // apart from other builds' runs
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
  }
  ~ImageFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }
  ImageFolder(const ImageFolder&) = delete;
  ImageFolder& operator=(const ImageFolder&) = delete;

  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

// length bytes of a pattern that is unlikely to match by chance (no run of equal bytes, no
// period of 256), seeded so that two images differ.
inline std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

// The progress values the bar showed on the console, in order ("000", "042", "100").
inline std::vector<std::string> ProgressShown(const std::string& console) {
  std::vector<std::string> shown;
  for (size_t at = console.find("\t "); at != std::string::npos; at = console.find("\t ", at + 1)) {
    if (console.compare(at + 5, 3, "% [") == 0) shown.push_back(console.substr(at + 2, 3));
  }
  return shown;
}
