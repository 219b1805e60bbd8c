// LD_PRELOAD shim that makes one ordinary file answer as a NAND MTD character device, so that the
// real uboot-nand binary (native or under qemu-arm) can be run against it. Test use only.
//   MTD_SIM_PATH       the file that is the device; its length is the device size
//   MTD_SIM_ERASESIZE  erase block size in bytes (default 16384)
//   MTD_SIM_LOG        a file that receives one line per request: "getinfo", "erase START LENGTH",
//                      "write OFFSET COUNT", and "violation ..." for anything a real device refuses
//   MTD_SIM_FAIL       fault switches, comma separated: getinfo, erase, short (writes half)
// It checks what it is asked: erase in whole erase blocks inside the device, through a descriptor
// open for writing, and writes only onto erased bytes (NAND pages are programmed once per erase).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/ioctl.h>  // the request macros only: this file defines ioctl itself
#include <mtd/mtd-abi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

typedef int (*IoctlCall)(int, unsigned long, ...);
typedef ssize_t (*WriteCall)(int, const void*, size_t);

IoctlCall RealIoctl() { return reinterpret_cast<IoctlCall>(dlsym(RTLD_NEXT, "ioctl")); }
WriteCall RealWrite() { return reinterpret_cast<WriteCall>(dlsym(RTLD_NEXT, "write")); }

// The descriptor refers to the simulated device; size receives the device size.
bool IsDevice(int fd, off_t* size) {
  const char* path = getenv("MTD_SIM_PATH");
  struct stat device, open;
  if (path == 0 || stat(path, &device) != 0 || fstat(fd, &open) != 0) return false;
  if (device.st_dev != open.st_dev || device.st_ino != open.st_ino) return false;
  *size = device.st_size;
  return true;
}

bool Faulty(const char* what) {
  const char* faults = getenv("MTD_SIM_FAIL");
  if (faults == 0) return false;
  const size_t n = strlen(what);
  for (const char* p = strstr(faults, what); p != 0; p = strstr(p + 1, what)) {
    if ((p == faults || p[-1] == ',') && (p[n] == '\0' || p[n] == ',')) return true;
  }
  return false;
}

void Log(const char* format, ...) {
  const char* path = getenv("MTD_SIM_LOG");
  if (path == 0) return;
  char line[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 2) n = sizeof line - 2;
  line[n++] = '\n';
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  RealWrite()(fd, line, n);
  close(fd);
}

unsigned long EraseSize() {
  const char* text = getenv("MTD_SIM_ERASESIZE");
  unsigned long size = text != 0 ? strtoul(text, 0, 0) : 0;
  return size != 0 ? size : 16384;
}

int Fail(int error) {
  errno = error;
  return -1;
}

int GetInfo(off_t size, void* arg) {
  Log("getinfo");
  if (Faulty("getinfo")) return Fail(EIO);
  mtd_info_user info;
  memset(&info, 0, sizeof info);
  info.type = MTD_NANDFLASH;
  info.flags = MTD_CAP_NANDFLASH;
  info.size = static_cast<__u32>(size);
  info.erasesize = static_cast<__u32>(EraseSize());
  info.writesize = 2048;
  info.oobsize = 64;
  memcpy(arg, &info, sizeof info);
  return 0;
}

int Erase(int fd, off_t size, const void* arg) {
  erase_info_user erase;
  memcpy(&erase, arg, sizeof erase);
  const unsigned long eraseSize = EraseSize();
  if ((fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) {
    Log("violation erase through a read-only descriptor");
    return Fail(EBADF);
  }
  if (erase.start % eraseSize != 0 || erase.length % eraseSize != 0 ||
      static_cast<off_t>(erase.start) + static_cast<off_t>(erase.length) > size) {
    Log("violation erase %lu %lu outside whole erase blocks", static_cast<unsigned long>(erase.start),
        static_cast<unsigned long>(erase.length));
    return Fail(EINVAL);
  }
  if (Faulty("erase")) {
    Log("erase-failed %lu %lu", static_cast<unsigned long>(erase.start),
        static_cast<unsigned long>(erase.length));
    return Fail(EIO);
  }
  static unsigned char erased[4096];
  memset(erased, 0xFF, sizeof erased);
  for (unsigned long done = 0; done < erase.length;) {
    unsigned long n = erase.length - done < sizeof erased ? erase.length - done : sizeof erased;
    if (pwrite(fd, erased, n, erase.start + done) != static_cast<ssize_t>(n)) return Fail(EIO);
    done += n;
  }
  Log("erase %lu %lu", static_cast<unsigned long>(erase.start), static_cast<unsigned long>(erase.length));
  return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  off_t size;
  if (!IsDevice(fd, &size)) return RealIoctl()(fd, request, arg);
  if (request == MEMGETINFO) return GetInfo(size, arg);
  if (request == MEMERASE) return Erase(fd, size, arg);
  Log("violation unknown request 0x%lx", request);
  return Fail(ENOTTY);
}

extern "C" ssize_t write(int fd, const void* buf, size_t count) {
  off_t size;
  if (!IsDevice(fd, &size)) return RealWrite()(fd, buf, count);
  const off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0 || position >= size) return Fail(ENOSPC);
  size_t n = static_cast<off_t>(count) > size - position ? static_cast<size_t>(size - position) : count;
  unsigned char current[4096];
  for (size_t done = 0; done < n;) {
    size_t chunk = n - done < sizeof current ? n - done : sizeof current;
    if (pread(fd, current, chunk, position + done) != static_cast<ssize_t>(chunk)) return Fail(EIO);
    for (size_t i = 0; i < chunk; ++i) {
      if (current[i] != 0xFF) {
        Log("violation write over bytes not erased at offset %lu",
            static_cast<unsigned long>(position + done + i));
        return Fail(EIO);
      }
    }
    done += chunk;
  }
  if (Faulty("short")) n /= 2;
  Log("write %lu %lu", static_cast<unsigned long>(position), static_cast<unsigned long>(n));
  return RealWrite()(fd, buf, n);
}
