#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "host/platform/new_file.h"

NewFileResult CreateNewFile(const std::string& name, std::FILE** file) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? NewFileResult::kExists : NewFileResult::kFailed;
  *file = fdopen(fd, "wb");
  if (*file) return NewFileResult::kCreated;
  close(fd);
  return NewFileResult::kFailed;
}
