#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>
#include <utility>

#include "host/platform/port_claim.h"

namespace {

// Every user's programs see the same folder; /run/lock is meant for device locks.
std::string LockFolder() { return access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp"; }

class LockedFile : public PortClaim {
 public:
  LockedFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  // The file goes before the lock, so that a run waiting for it finds the next one instead.
  ~LockedFile() override {
    unlink(path_.c_str());
    close(fd_);
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

 private:
  int fd_;
  std::string path_;
};

// Locks the file at path: 1 when this process holds it now, 0 when another one does, -1 when the
// file was removed (its holder ended) between the open and the lock, or cannot be used at all.
int LockFile(const std::string& path, int* fd) {
  // Another user's lock file in a sticky folder may refuse O_CREAT; reading is enough to lock it.
  *fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (*fd < 0) *fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (*fd < 0) return -1;
  if (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(*fd);
    return held ? 0 : -1;
  }
  struct stat opened {};
  struct stat named {};
  if (fstat(*fd, &opened) == 0 && stat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
      opened.st_dev == named.st_dev) {
    return 1;
  }
  close(*fd);
  return -1;
}

}  // namespace

std::string PortClaimKey(const std::string& name) {
  struct stat info {};
  if (stat(name.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
    return "tty-" + std::to_string(major(info.st_rdev)) + "-" + std::to_string(minor(info.st_rdev));
  }
  std::string key;
  for (char c : name) key += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return key;
}

bool ClaimPlatformPort(const std::string& name, std::unique_ptr<PortClaim>* claim) {
  const std::string path = LockFolder() + "/BrenloFix." + PortClaimKey(name) + ".lock";
  // A lock file removed under the lock (its holder ended meanwhile) is tried again, a few times.
  for (int tries = 0; tries < 3; ++tries) {
    int fd = -1;
    switch (LockFile(path, &fd)) {
      case 1:
        claim->reset(new LockedFile(fd, path));
        return true;
      case 0:
        return false;
      default:
        break;
    }
  }
  claim->reset(new PortClaim());
  return true;
}
