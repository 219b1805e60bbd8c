#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "host/platform/new_file.h"

NewFileResult CreateNewFile(const std::string& name, std::FILE** file) {
  // The runtime's exclusive create (CREATE_NEW); its fopen knows no "x" mode.
  const int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return errno == EEXIST ? NewFileResult::kExists : NewFileResult::kFailed;
  *file = _fdopen(fd, "wb");
  if (*file) return NewFileResult::kCreated;
  _close(fd);
  return NewFileResult::kFailed;
}
