#include "station/station_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "station/station_claim.h"
#include "station/station_options.h"

StationInstance::~StationInstance() { close(fd_); }

std::unique_ptr<StationInstance> StationInstance::Make(const std::string& station, std::string* previous,
                                                       std::string* words) {
  // One file per station name and user: another user's station of that name is kept off by the
  // ledger's lease alone.
  const std::string path = StationClaim::Folder() + "/brenlofix-station." + SafePortName(station) + "." +
                           std::to_string(getuid()) + ".instance";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *words = "Error: cannot make the station's lock file " + path + " (" +
             (fd < 0 ? std::strerror(errno) : "not a plain file") + ").";
    if (fd >= 0) close(fd);
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    *words = error == EWOULDBLOCK ? "Error: a station named " + station + " already runs on this PC; give --station NAME."
                                  : "Error: cannot lock " + path + " (" + std::strerror(error) + ").";
    return nullptr;
  }
  char text[256] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  previous->assign(text, got > 0 ? static_cast<size_t>(got) : 0);
  char host[128] = {};
  gethostname(host, sizeof host - 1);
  const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  const std::string name = std::string(host) + "-" + std::to_string(getpid()) + "-" + std::to_string(now);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, name.data(), name.size(), 0) != static_cast<ssize_t>(name.size())) {
    *words = "Error: cannot write " + path + " (" + std::strerror(errno) + ").";
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<StationInstance>(new StationInstance(fd, name));
}
