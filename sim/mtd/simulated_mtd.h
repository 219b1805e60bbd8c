// A simulated NAND MTD character device (and plain files beside it) behind uboot-nand's BlockIo,
// for the unit tests. It answers MEMGETINFO and MEMERASE as the kernel's mtdchar does and checks
// what it is asked: request codes, erase ranges in whole erase blocks inside the device, writes
// only onto erased bytes, erase only through a descriptor open for writing.
#ifndef SIM_MTD_SIMULATED_MTD_H
#define SIM_MTD_SIMULATED_MTD_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/nand/tool_io.h"

class SimulatedStorage : public BlockIo {
 public:
  struct Node {
    std::vector<unsigned char> bytes;
    bool mtd = false;
    uint32_t eraseSize = 0;
    bool writable = true;  // false: opening it for writing fails with EACCES
    // Fault switches.
    bool failOpen = false;
    bool failGetInfo = false;
    bool failErase = false;
    bool failLock = false;
    long shortWriteBy = 0;  // a write moves this many bytes less than asked
    // What the device saw.
    std::vector<std::pair<uint32_t, uint32_t>> erases;  // start, length
    int writes = 0;
    int writesWithoutExclusiveLock = 0;
    int readsWithoutLock = 0;
  };

  // An erased NAND device (every byte 0xFF).
  Node& AddMtd(const std::string& path, uint32_t size, uint32_t eraseSize);
  Node& AddFile(const std::string& path, const std::vector<unsigned char>& bytes);
  Node* Find(const std::string& path);
  bool allowCreate = true;  // false: O_CREAT of a missing path fails (an unwritable folder)

  // The device's requests in order: "open PATH", "lock-ex", "lock-sh", "unlock", "getinfo",
  // "erase START LENGTH", "read COUNT", "write COUNT", "close".
  const std::vector<std::string>& events() const { return events_; }
  // Requests the device refused as wrong; a correct tool causes none.
  const std::vector<std::string>& violations() const { return violations_; }
  int OpenDescriptors() const { return static_cast<int>(descriptors_.size()); }

  int Open(const char* path, int flags, int mode) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;
  long Read(int fd, void* buf, unsigned long count) override;
  long Write(int fd, const void* buf, unsigned long count) override;
  long Length(int fd) override;
  int Lock(int fd, int operation) override;

 private:
  enum class LockState { kNone, kShared, kExclusive };
  struct Descriptor {
    std::string path;
    int flags = 0;
    size_t position = 0;
    LockState lock = LockState::kNone;
  };
  Descriptor* FindDescriptor(int fd);
  LockState PathLock(const std::string& path) const;
  int Fail(int error);
  void Violation(const std::string& what);
  int Erase(Descriptor& d, Node& node, void* arg);

  std::map<std::string, Node> nodes_;
  std::map<int, Descriptor> descriptors_;
  int nextFd_ = 3;
  std::vector<std::string> events_;
  std::vector<std::string> violations_;
};

#endif  // SIM_MTD_SIMULATED_MTD_H
