#ifndef HOST_TESTING_TEMP_PATH_H_
#define HOST_TESTING_TEMP_PATH_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

// A name in GoogleTest's temporary folder that no other test process uses at the same time: CTest
// runs every unit test in a process of its own, many at once, and the same tests of the sanitizer
// build beside them, all in the same folder.
inline std::string UniqueTempPath(const std::string& name) {
  return ::testing::TempDir() + name + "." + std::to_string(::getpid());
}

#endif  // HOST_TESTING_TEMP_PATH_H_
