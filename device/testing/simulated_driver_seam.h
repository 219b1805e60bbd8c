// For unit tests: puts a simulated board driver behind the board library's system calls for the
// lifetime of one object. Entry descriptors are made-up numbers that only this seam knows.
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "device/eeprom/boardlib/osa_calls.h"
#include "sim/boarddrv/board_driver.h"

class SimulatedDriverSeam {
 public:
  explicit SimulatedDriverSeam(simboard::SimBoardDriver& driver) {
    active_ = this;
    driver_ = &driver;
    InstallOsaCalls(&kCalls);
  }
  ~SimulatedDriverSeam() {
    InstallOsaCalls(nullptr);
    active_ = nullptr;
  }
  SimulatedDriverSeam(const SimulatedDriverSeam&) = delete;
  SimulatedDriverSeam& operator=(const SimulatedDriverSeam&) = delete;

  // Entry names of the descriptors still open.
  int OpenEntries() const { return static_cast<int>(open_.size()); }
  // Set when the library opened an entry other than read-write.
  bool badOpenFlags() const { return badOpenFlags_; }

 private:
  static int Open(const char* path, int flags) {
    SimulatedDriverSeam& seam = *active_;
    static const char kFolder[] = "/proc/osadrivers/";
    if (std::strncmp(path, kFolder, sizeof kFolder - 1) != 0) {
      errno = ENOENT;
      return -1;
    }
    const std::string name = path + sizeof kFolder - 1;
    if (flags != O_RDWR) seam.badOpenFlags_ = true;
    if (!seam.driver_->EntryPresent(name)) {
      errno = ENOENT;
      return -1;
    }
    if (name == "PHXDRV" && seam.driver_->faults().driverEntryFdZero) return 0;
    const int fd = seam.nextFd_++;
    seam.open_[fd] = name;
    return fd;
  }
  static int Ioctl(int fd, unsigned long request, void* argument) {
    SimulatedDriverSeam& seam = *active_;
    auto entry = seam.open_.find(fd);
    if (entry == seam.open_.end() || entry->second != "PHXDRV") {
      errno = entry == seam.open_.end() ? EBADF : ENOTTY;
      return -1;
    }
    return seam.driver_->Ioctl(request, argument);
  }
  static int Close(int fd) {
    SimulatedDriverSeam& seam = *active_;
    if (seam.open_.erase(fd) == 0) {
      errno = EBADF;
      return -1;
    }
    return 0;
  }

  static constexpr OsaCalls kCalls = {Open, Ioctl, Close};
  static inline SimulatedDriverSeam* active_ = nullptr;
  simboard::SimBoardDriver* driver_ = nullptr;
  std::map<int, std::string> open_;
  int nextFd_ = 40;
  bool badOpenFlags_ = false;
};
