#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "device/nand/tool_io.h"

int SystemBlockIo::Open(const char* path, int flags, int mode) { return open(path, flags, mode); }

int SystemBlockIo::Close(int fd) { return close(fd); }

int SystemBlockIo::Ioctl(int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); }

long SystemBlockIo::Read(int fd, void* buf, unsigned long count) { return read(fd, buf, count); }

long SystemBlockIo::Write(int fd, const void* buf, unsigned long count) { return write(fd, buf, count); }

long SystemBlockIo::Length(int fd) {
  off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0 || lseek(fd, 0, SEEK_SET) != 0) return -1;
  return static_cast<long>(end);
}

int SystemBlockIo::Lock(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}
