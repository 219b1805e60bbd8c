// What uboot-nand reaches the world through: the system calls on the block's path and the three
// standard streams. The board uses the real calls; unit tests put a simulated MTD device behind
// BlockIo and capture the streams.
#ifndef DEVICE_NAND_TOOL_IO_H
#define DEVICE_NAND_TOOL_IO_H

#include <stdio.h>

class BlockIo {
 public:
  // As open(2): a descriptor, or -1.
  virtual int Open(const char* path, int flags, int mode) = 0;
  virtual int Close(int fd) = 0;
  // As ioctl(2) with a pointer argument: 0 or more on success, negative on failure.
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  // As read(2) and write(2): the count moved, or -1.
  virtual long Read(int fd, void* buf, unsigned long count) = 0;
  virtual long Write(int fd, const void* buf, unsigned long count) = 0;
  // The length of the open file (seek to its end, take the position, seek back to the start), or -1.
  virtual long Length(int fd) = 0;
  // As flock(2): blocks until the lock is granted; 0, or -1.
  virtual int Lock(int fd, int operation) = 0;

 protected:
  // Never deleted through this interface: its owner holds the concrete object.
  ~BlockIo() {}
};

// The operating system's own calls.
class SystemBlockIo : public BlockIo {
 public:
  virtual int Open(const char* path, int flags, int mode);
  virtual int Close(int fd);
  virtual int Ioctl(int fd, unsigned long request, void* arg);
  virtual long Read(int fd, void* buf, unsigned long count);
  virtual long Write(int fd, const void* buf, unsigned long count);
  virtual long Length(int fd);
  virtual int Lock(int fd, int operation);
};

struct ToolIo {
  BlockIo* block;
  FILE* in;   // the rewrite form's variables
  FILE* out;  // usage text and results
  FILE* err;  // diagnostics
};

#endif  // DEVICE_NAND_TOOL_IO_H
