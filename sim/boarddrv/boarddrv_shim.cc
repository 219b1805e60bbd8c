// LD_PRELOAD shim that puts the simulated board driver and the kernel's EEPROM files under a real
// uboot-eeprom binary. It answers open, ioctl and close for "/proc/osadrivers/PHXDRV" and
// "/proc/osadrivers/osaext", and fopen for "/proc/eeprom/userspace" and "/proc/eeprom/defaults";
// every other path and descriptor goes on to the C library.
//
// SIM_BOARDDRV_DIR names the board's folder: eeprom.bin holds the EEPROM words (two bytes a word,
// little-endian), requests.log receives one line per driver request, and the driver entries are
// real files there so that flock on them works across processes. Without it the shim stays out of
// the way. Devices and faults: see driver_config.h.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "sim/boarddrv/board_driver.h"
#include "sim/boarddrv/driver_config.h"
#include "sim/boarddrv/eeprom_store.h"

namespace {

using OpenFn = int (*)(const char*, int, ...);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);
using FopenFn = FILE* (*)(const char*, const char*);

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

enum EntryKind : unsigned char { kNoEntry, kDriverEntry, kExtensionEntry };
constexpr int kMaxFd = 4096;
constexpr char kOsaFolder[] = "/proc/osadrivers/";

struct Shim {
  bool active = false;
  std::string folder;
  std::unique_ptr<simboard::FileWordStore> store;
  std::unique_ptr<simboard::SimBoardDriver> driver;
  int logFd = -1;
  EntryKind entries[kMaxFd] = {};
};

[[noreturn]] void Die(const std::string& message) {
  const std::string line = "boarddrv shim: " + message + "\n";
  (void)!write(2, line.data(), line.size());
  _exit(99);
}

Shim& TheShim() {
  static Shim* shim = nullptr;
  if (shim != nullptr) return *shim;
  shim = new Shim;
  const char* folder = getenv("SIM_BOARDDRV_DIR");
  if (folder == nullptr || *folder == '\0') return *shim;
  shim->folder = folder;

  std::vector<simboard::SimDevice> devices = simboard::DefaultDevices();
  simboard::DriverFaults faults;
  std::string error;
  const char* deviceText = getenv("SIM_BOARDDRV_DEVICES");
  if (deviceText != nullptr && !simboard::ParseDevices(deviceText, &devices, &error)) Die("bad device " + error);
  const char* faultText = getenv("SIM_BOARDDRV_FAULTS");
  if (faultText != nullptr && !simboard::ParseFaults(faultText, &faults, &error)) Die("bad fault " + error);

  shim->store = std::make_unique<simboard::FileWordStore>(shim->folder + "/eeprom.bin");
  if (!shim->store->ok()) Die("cannot open " + shim->folder + "/eeprom.bin");
  shim->driver = std::make_unique<simboard::SimBoardDriver>(*shim->store, devices, faults);
  shim->logFd = Next<OpenFn>("open")((shim->folder + "/requests.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int logFd = shim->logFd;
  shim->driver->SetRequestListener([logFd](const std::string& line) {
    const std::string text = line + "\n";
    if (logFd >= 0) (void)!write(logFd, text.data(), text.size());
  });
  shim->active = true;
  return *shim;
}

// Opens a driver entry as a real file in the board's folder: a descriptor of its own, on which
// close and flock behave as on the real entry.
bool OpenEntry(const char* path, int* fd) {
  if (strncmp(path, kOsaFolder, sizeof kOsaFolder - 1) != 0) return false;
  Shim& shim = TheShim();
  if (!shim.active) return false;
  const std::string name = path + sizeof kOsaFolder - 1;
  if (!shim.driver->EntryPresent(name)) {
    errno = ENOENT;
    *fd = -1;
    return true;
  }
  *fd = Next<OpenFn>("open")((shim.folder + "/" + name).c_str(), O_RDWR | O_CREAT, 0644);
  if (*fd >= 0 && *fd < kMaxFd) shim.entries[*fd] = name == "PHXDRV" ? kDriverEntry : kExtensionEntry;
  return true;
}

FILE* FileWithBytes(const std::vector<uint8_t>& bytes) {
  FILE* file = tmpfile();
  if (file == nullptr) return nullptr;
  if (fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    fclose(file);
    return nullptr;
  }
  rewind(file);
  return file;
}

bool OpenLayerFile(const char* path, FILE** file) {
  const bool user = strcmp(path, "/proc/eeprom/userspace") == 0;
  if (!user && strcmp(path, "/proc/eeprom/defaults") != 0) return false;
  Shim& shim = TheShim();
  if (!shim.active) return false;
  if (user) {
    const std::vector<uint8_t> bytes = shim.driver->UserLayerFile();
    // Taken after the image, so that a run that does not hold the store lock reads a stale one.
    const int delayMs = shim.driver->faults().userReadDelayMs;
    if (delayMs > 0) {
      const timespec pause = {delayMs / 1000, (delayMs % 1000) * 1000000L};
      nanosleep(&pause, nullptr);
    }
    *file = FileWithBytes(bytes);
  } else {
    *file = FileWithBytes(shim.driver->DefaultsFile());
  }
  return true;
}

int OpenAnyway(const char* symbol, const char* path, int flags, va_list arguments) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) mode = va_arg(arguments, mode_t);
  int fd = -1;
  if (OpenEntry(path, &fd)) return fd;
  return Next<OpenFn>(symbol)(path, flags, mode);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int fd = OpenAnyway("open", path, flags, arguments);
  va_end(arguments);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int fd = OpenAnyway("open64", path, flags, arguments);
  va_end(arguments);
  return fd;
}

int __open_2(const char* path, int flags) {
  int fd = -1;
  if (OpenEntry(path, &fd)) return fd;
  return Next<int (*)(const char*, int)>("__open_2")(path, flags);
}

int __open64_2(const char* path, int flags) {
  int fd = -1;
  if (OpenEntry(path, &fd)) return fd;
  return Next<int (*)(const char*, int)>("__open64_2")(path, flags);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (fd >= 0 && fd < kMaxFd && TheShim().entries[fd] == kDriverEntry) return TheShim().driver->Ioctl(request, argument);
  if (fd >= 0 && fd < kMaxFd && TheShim().entries[fd] == kExtensionEntry) {
    errno = ENOTTY;  // the extension entry only hands out event entries, which the tool never asks for
    return -1;
  }
  return Next<IoctlFn>("ioctl")(fd, request, argument);
}

int close(int fd) {
  if (fd >= 0 && fd < kMaxFd) TheShim().entries[fd] = kNoEntry;
  return Next<CloseFn>("close")(fd);
}

FILE* fopen(const char* path, const char* mode) {
  FILE* file = nullptr;
  if (OpenLayerFile(path, &file)) return file;
  return Next<FopenFn>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  FILE* file = nullptr;
  if (OpenLayerFile(path, &file)) return file;
  return Next<FopenFn>("fopen64")(path, mode);
}

}  // extern "C"
