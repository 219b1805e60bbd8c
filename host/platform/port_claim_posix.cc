#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "host/platform/port_claim.h"

namespace {

// Every user's programs see the same folder; /run/lock is meant for device locks.
std::string LockFolder() { return access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp"; }

class LockedFile : public PortClaim {
 public:
  explicit LockedFile(int fd) : fd_(fd) {}
  ~LockedFile() override {
    if (fd_ >= 0) close(fd_);  // the lock goes with the descriptor; the file stays for the next run
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

 private:
  int fd_;
};

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
  // Another user's lock file in a sticky folder may refuse O_CREAT; reading is enough to lock it.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) fchmod(fd, 0644);
  }
  if (fd < 0) {
    claim->reset(new PortClaim());
    return true;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    if (held) return false;
    claim->reset(new PortClaim());
    return true;
  }
  claim->reset(new LockedFile(fd));
  return true;
}
