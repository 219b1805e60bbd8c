#include <windows.h>

#include "host/platform/durable_file.h"
#include "host/platform/system_error.h"
#include "host/platform/win32_handle.h"

namespace {

bool Fail(DWORD error, std::string* words) {
  *words = SystemErrorText(static_cast<int>(error));
  return false;
}

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = DurableTemporaryName(path);
  // CREATE_ALWAYS takes over a temporary file a killed writer left.
  Win32Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return Fail(GetLastError(), error);
  DWORD written = 0;
  const bool done = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file.get());
  const DWORD writeError = GetLastError();
  const bool closed = file.Close();
  if (!done || !closed) {
    const DWORD failure = done ? GetLastError() : writeError;
    DeleteFileA(temporary.c_str());
    return Fail(failure, error);
  }
  // Write-through: the call returns once the rename is on the disk.
  if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD failure = GetLastError();
    DeleteFileA(temporary.c_str());
    return Fail(failure, error);
  }
  return true;
}
