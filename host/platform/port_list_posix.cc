#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "host/platform/port_list_names.h"

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// The 8250 driver registers ttyS0..ttyS31 whether or not a UART is there; the phantom ones read
// back as type unknown. Detection would spend seconds on each, so they are left out.
bool IsPhantomUart(const std::string& devPath) {
  const int fd = open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // busy or not ours to open: Open will say so
  serial_struct info {};
  const bool phantom = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
  close(fd);
  return phantom;
}

}  // namespace

PortMap ListTtyPorts(const std::string& sysClassTty, const std::string& devDir) {
  std::vector<std::string> names;
  DIR* dir = opendir(sysClassTty.c_str());
  if (!dir) return {};
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Virtual terminals, ptys and the console have no device behind them.
    if (!Exists(sysClassTty + "/" + name + "/device")) continue;
    const std::string devPath = devDir + "/" + name;
    if (!Exists(devPath)) continue;
    if (name.compare(0, 4, "ttyS") == 0 && IsPhantomUart(devPath)) continue;
    names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), NaturalLess);
  PortMap ports;
  for (const std::string& name : names) ports.emplace(static_cast<uint32_t>(ports.size()), devDir + "/" + name);
  return ports;
}

PortMap ListPlatformSerialPorts() { return ListTtyPorts("/sys/class/tty", "/dev"); }
