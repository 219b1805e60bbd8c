// Unit-test support: a ToolIo on the simulated MTD device, with captured standard streams.
#ifndef DEVICE_TESTING_TEST_TOOL_IO_H
#define DEVICE_TESTING_TEST_TOOL_IO_H

#include <cstdio>
#include <string>
#include <vector>

#include "device/nand/env_var.h"
#include "device/nand/tool_io.h"
#include "sim/mtd/simulated_mtd.h"

class TestToolIo {
 public:
  TestToolIo() : in_(std::tmpfile()), out_(std::tmpfile()), err_(std::tmpfile()) {
    io = ToolIo{&storage, in_, out_, err_};
  }
  ~TestToolIo() {
    std::fclose(in_);
    std::fclose(out_);
    std::fclose(err_);
  }
  TestToolIo(const TestToolIo&) = delete;
  TestToolIo& operator=(const TestToolIo&) = delete;

  void SetInput(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), in_);
    std::rewind(in_);
  }
  long InputPosition() { return std::ftell(in_); }
  std::string Out() { return Read(out_); }
  std::string Err() { return Read(err_); }

  SimulatedStorage storage;
  ToolIo io;

 private:
  static std::string Read(FILE* f) {
    std::fflush(f);
    long end = std::ftell(f);
    std::string text(static_cast<size_t>(end), '\0');
    std::rewind(f);
    size_t n = std::fread(&text[0], 1, text.size(), f);
    text.resize(n);
    return text;
  }
  FILE* in_;
  FILE* out_;
  FILE* err_;
};

// A block of size bytes: a header of four 0xAA bytes (never checked on load), then data, then fill.
inline std::vector<unsigned char> MakeBlock(const std::string& data, size_t size, unsigned char fill = 0) {
  std::vector<unsigned char> block(size, fill);
  for (size_t i = 0; i < 4 && i < size; ++i) block[i] = 0xAA;
  for (size_t i = 0; i < data.size() && 4 + i < size; ++i) block[4 + i] = static_cast<unsigned char>(data[i]);
  return block;
}

// "name=value" for each variable of the list, in order.
inline std::vector<std::string> Entries(const EnvVar* first) {
  std::vector<std::string> entries;
  for (const EnvVar* r = first; r != nullptr && r->name != nullptr; r = r->next) {
    entries.push_back(std::string(r->name) + "=" + r->value);
  }
  return entries;
}

#endif  // DEVICE_TESTING_TEST_TOOL_IO_H
