// The operating-system calls through which the board library reaches the driver entries. The
// program uses the C library's own; unit tests put a simulated driver in their place.
#ifndef DEVICE_EEPROM_BOARDLIB_OSA_CALLS_H_
#define DEVICE_EEPROM_BOARDLIB_OSA_CALLS_H_

struct OsaCalls {
  int (*openEntry)(const char* path, int flags);
  int (*ioControl)(int fd, unsigned long request, void* argument);
  int (*closeEntry)(int fd);
};

// The calls in use: the C library's unless a test installed others.
const OsaCalls& CurrentOsaCalls();

// Installs calls (a test's simulated driver); 0 puts the C library's back. The record must
// outlive its use.
void InstallOsaCalls(const OsaCalls* calls);

#endif  // DEVICE_EEPROM_BOARDLIB_OSA_CALLS_H_
