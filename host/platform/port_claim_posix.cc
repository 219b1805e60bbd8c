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
#include "host/platform/system_error.h"

namespace {

// Every user's programs see the same folder; /run/lock is meant for device locks.
std::string LockFolder() { return access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp"; }

// Readable by every user whatever the umask: another user's run must be able to open the file to
// find the port held.
constexpr mode_t kLockFileMode = 0644;

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

enum class Lock { kHeld, kTaken, kAgain, kNoClaim };

std::string CountsAsHeld(const std::string& path, const std::string& why) {
  return "The lock file " + path + " cannot be used (" + why +
         "); it counts as another BrenloFix run's claim: remove it if no run uses the port.";
}

// Locks the file at path. kTaken: this process holds it now (*fd); kHeld: another one does, or the
// file is there and cannot be used (*trouble says why); kAgain: the file was removed or created by
// another run between two calls; kNoClaim: no lock file can be made here at all.
Lock LockFile(const std::string& path, int* fd, std::string* trouble) {
  // Never through a link, never blocking on a pipe someone put there.
  constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  *fd = open(path.c_str(), kOpenFlags);
  if (*fd < 0 && errno == ENOENT) {
    *fd = open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, kLockFileMode);
    if (*fd < 0) return errno == EEXIST ? Lock::kAgain : Lock::kNoClaim;
    fchmod(*fd, kLockFileMode);
  } else if (*fd < 0) {
    *trouble = CountsAsHeld(path, SystemErrorText(errno));
    return Lock::kHeld;
  }
  struct stat opened {};
  if (fstat(*fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(*fd);
    *trouble = CountsAsHeld(path, "it is not a plain file");
    return Lock::kHeld;
  }
  if (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(*fd);
    if (error == EWOULDBLOCK) return Lock::kHeld;
    *trouble = CountsAsHeld(path, SystemErrorText(error));
    return Lock::kHeld;
  }
  struct stat named {};
  if (lstat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
    return Lock::kTaken;
  }
  close(*fd);
  return Lock::kAgain;
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

bool ClaimPlatformKey(const std::string& key, std::unique_ptr<PortClaim>* claim, std::string* trouble) {
  const std::string path = LockFolder() + "/BrenloFix." + key + ".lock";
  // A lock file removed under the lock (its holder ended meanwhile) is tried again, a few times.
  for (int tries = 0; tries < 3; ++tries) {
    int fd = -1;
    switch (LockFile(path, &fd, trouble)) {
      case Lock::kTaken:
        claim->reset(new LockedFile(fd, path));
        return true;
      case Lock::kHeld:
        return false;
      case Lock::kNoClaim:
        tries = 3;
        break;
      case Lock::kAgain:
        break;
    }
  }
  claim->reset(new PortClaim());
  return true;
}
