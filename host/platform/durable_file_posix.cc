#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "host/platform/durable_file.h"
#include "host/platform/system_error.h"

namespace {

bool Fail(int error, std::string* words) {
  *words = SystemErrorText(error);
  return false;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = DurableTemporaryName(path);
  // A file another writer left there (killed before its rename) is replaced, never written through:
  // a link in its place must not send the record elsewhere.
  unlink(temporary.c_str());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(errno, error);
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  const int writeError = errno;
  if (close(fd) != 0 && written) {
    const int closeError = errno;
    unlink(temporary.c_str());
    return Fail(closeError, error);
  }
  if (!written) {
    unlink(temporary.c_str());
    return Fail(writeError, error);
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int renameError = errno;
    unlink(temporary.c_str());
    return Fail(renameError, error);
  }
  // The new name lasts once the folder's entry is on the disk. Some file systems cannot sync a
  // folder; the file itself is safe by then.
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}
