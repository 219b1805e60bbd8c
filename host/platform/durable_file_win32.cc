#include <windows.h>

#include "host/platform/durable_file.h"
#include "host/platform/system_error.h"
#include "host/platform/win32_handle.h"

namespace {

// A reader that holds the record open without FILE_SHARE_DELETE (a station's script, an editor, a
// virus scanner) makes the rename fail for as long as it holds it: it is tried again meanwhile.
constexpr DWORD kRenameRetryMs = 2000;
constexpr DWORD kRenamePauseMs = 50;

bool Fail(DWORD error, std::string* words) {
  *words = SystemErrorText(static_cast<int>(error));
  return false;
}

bool ReaderHoldsIt(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; }

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = DurableTemporaryName(path);
  // A temporary file a killed writer left is deleted first (a link planted there is deleted, not
  // what it points to), and the new one is created only if the name is free: a link planted in
  // between makes the write fail instead of being followed.
  if (!DeleteFileA(temporary.c_str())) {
    const DWORD failure = GetLastError();
    if (failure != ERROR_FILE_NOT_FOUND) return Fail(failure, error);
  }
  Win32Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return Fail(GetLastError(), error);
  // Each failure's words are read right after the call that failed.
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    const DWORD failure = GetLastError();
    file.Close();
    DeleteFileA(temporary.c_str());
    return Fail(failure, error);
  }
  if (written != text.size()) {
    // A short write sets no error of its own.
    *error = "wrote " + std::to_string(written) + " of " + std::to_string(text.size()) + " bytes";
    file.Close();
    DeleteFileA(temporary.c_str());
    return false;
  }
  if (!FlushFileBuffers(file.get())) {
    const DWORD failure = GetLastError();
    file.Close();
    DeleteFileA(temporary.c_str());
    return Fail(failure, error);
  }
  if (!file.Close()) {
    const DWORD failure = GetLastError();
    DeleteFileA(temporary.c_str());
    return Fail(failure, error);
  }
  // Write-through: the call returns once the rename is on the disk.
  const DWORD start = GetTickCount();
  while (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD failure = GetLastError();
    if (!ReaderHoldsIt(failure) || GetTickCount() - start >= kRenameRetryMs) {
      DeleteFileA(temporary.c_str());
      return Fail(failure, error);
    }
    Sleep(kRenamePauseMs);
  }
  return true;
}
