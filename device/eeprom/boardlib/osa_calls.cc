#include "device/eeprom/boardlib/osa_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int SystemOpen(const char* path, int flags) { return open(path, flags); }
int SystemIoctl(int fd, unsigned long request, void* argument) { return ioctl(fd, request, argument); }
int SystemClose(int fd) { return close(fd); }

const OsaCalls kSystemCalls = {SystemOpen, SystemIoctl, SystemClose};
const OsaCalls* installedCalls = 0;

}  // namespace

const OsaCalls& CurrentOsaCalls() { return installedCalls ? *installedCalls : kSystemCalls; }

void InstallOsaCalls(const OsaCalls* calls) { installedCalls = calls; }
