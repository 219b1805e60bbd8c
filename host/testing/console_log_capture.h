// A test fixture that catches what a step shows on the console and writes to the log file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "host/link/log_file.h"

class ConsoleLogCaptureTest : public ::testing::Test {
 protected:
  // Named apart for each test process: CTest runs the cases of one fixture side by side.
  explicit ConsoleLogCaptureTest(const std::string& logFileName)
      : logName_(::testing::TempDir() + std::to_string(::getpid()) + "_" + logFileName) {}

  void SetUp() override {
    saved_ = std::cout.rdbuf(console_.rdbuf());
    OpenLogFile(logName_);
  }
  void TearDown() override {
    CloseLogFile();
    std::remove(logName_.c_str());
    std::cout.rdbuf(saved_);
  }
  // Closes the log and gives its bytes.
  std::string Log() {
    CloseLogFile();
    std::ifstream in(logName_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::ostringstream console_;
  std::streambuf* saved_ = nullptr;
  std::string logName_;
};
