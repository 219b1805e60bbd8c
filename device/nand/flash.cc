#include "device/nand/flash.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>

uint32_t MtdSize(const ToolIo& io, const char* path) {
  int fd = io.block->Open(path, O_RDWR | O_SYNC, 0);
  if (fd < 0) return 0;
  mtd_info_user info;
  memset(&info, 0, sizeof info);
  int result = io.block->Ioctl(fd, MEMGETINFO, &info);
  io.block->Close(fd);
  return result < 0 ? 0 : info.size;
}

bool FlashWrite(const ToolIo& io, const char* path, const unsigned char* data, uint32_t size) {
  int fd = io.block->Open(path, O_RDWR | O_CREAT | O_SYNC, 0644);
  if (fd < 0) {
    fprintf(io.err, "Error: cannot open <%s>\n", path);
    return false;
  }
  mtd_info_user info;
  memset(&info, 0, sizeof info);
  if (io.block->Ioctl(fd, MEMGETINFO, &info) == 0) {
    // NAND is written only where it was erased: the whole device, in whole erase blocks, first.
    erase_info_user erase;
    erase.start = 0;
    erase.length = size & ~(info.erasesize - 1);
    if (io.block->Ioctl(fd, MEMERASE, &erase) < 0) {
      fprintf(io.err, "Error: cannot erase flash <%s>\n", path);
      io.block->Close(fd);
      return false;
    }
  }
  long written = io.block->Write(fd, data, size);
  if (written != static_cast<long>(size)) {
    fprintf(io.err, "Error: need to write %d and written %d bytes\n", static_cast<int>(size),
            static_cast<int>(written));
    io.block->Close(fd);
    return false;
  }
  io.block->Close(fd);
  return true;
}

int EnvLock(const ToolIo& io, const char* path, bool exclusive) {
  int fd = io.block->Open(path, O_RDONLY, 0);
  if (fd < 0) return -1;
  if (io.block->Lock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
    fprintf(io.err, "Error: cannot lock <%s>: %s\n", path, strerror(errno));
    io.block->Close(fd);
    return -2;
  }
  return fd;
}

void EnvUnlock(const ToolIo& io, int lockFd) {
  if (lockFd < 0) return;
  io.block->Lock(lockFd, LOCK_UN);
  io.block->Close(lockFd);
}
