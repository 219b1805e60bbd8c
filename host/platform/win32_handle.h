// The owner of one Windows kernel handle (a file, a serial port): closed on every exit. Only the
// *_win32.cc files use this header.
#pragma once

#include <windows.h>

class Win32Handle {
 public:
  explicit Win32Handle(HANDLE handle) : handle_(handle) {}
  ~Win32Handle() { Close(); }
  Win32Handle(const Win32Handle&) = delete;
  Win32Handle& operator=(const Win32Handle&) = delete;
  HANDLE get() const { return handle_; }
  // Closes it now; false when closing failed (GetLastError tells).
  bool Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};
