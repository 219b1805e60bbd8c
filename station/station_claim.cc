#include "station/station_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/platform/port_claim.h"

std::string StationClaim::Folder() { return access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp"; }

StationClaim::~StationClaim() {
  // The file goes before the lock, so that a station waiting for it finds the next one instead.
  unlink(path_.c_str());
  close(fd_);
}

std::unique_ptr<StationClaim> StationClaim::Make(const std::string& port, std::string* words) {
  // A lock file removed under the lock (its holder ended meanwhile) is tried again, a few times.
  for (int tries = 0; tries < 3; ++tries) {
    bool again = false;
    auto claim = TryOnce(port, words, &again);
    if (claim || !again) return claim;
  }
  *words = "Error: cannot claim the port " + port + ": its lock file keeps being removed.";
  return nullptr;
}

std::unique_ptr<StationClaim> StationClaim::TryOnce(const std::string& port, std::string* words, bool* again) {
  const std::string path = Folder() + "/brenlofix-station." + PortClaimKey(port) + ".lock";
  // Never through a link, never blocking on a pipe someone put there; readable by every user, so
  // that another user's station finds the port held.
  const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    *words = "Error: cannot claim the port " + port + ": the lock file " + path + " cannot be made or opened (" +
             std::strerror(errno) + ").";
    return nullptr;
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    *words = "Error: cannot claim the port " + port + ": the lock file " + path + " is not a plain file.";
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    *words = error == EWOULDBLOCK ? "Error: the port " + port + " is held by another station."
                                  : "Error: cannot claim the port " + port + ": the lock file " + path +
                                        " cannot be locked (" + std::strerror(error) + ").";
    return nullptr;
  }
  struct stat named {};
  if (lstat(path.c_str(), &named) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
    close(fd);
    *again = true;
    return nullptr;
  }
  fchmod(fd, 0644);
  return std::unique_ptr<StationClaim>(new StationClaim(fd, path));
}
