// Serial ports on Windows: the kernel32 serial calls. The driver keeps receiving into its own
// queue while the program sleeps; SetupComm makes that queue large enough for the echo of a whole
// environment typed at the boot loader.
#include <windows.h>

#include "host/platform/serial_line_backends.h"
#include "host/platform/win32_handle.h"

namespace {

constexpr DWORD kDriverQueueBytes = 64 * 1024;

class Win32SerialLine : public SerialLine {
 public:
  explicit Win32SerialLine(HANDLE handle) : handle_(handle) {
    SetupComm(handle_.get(), kDriverQueueBytes, kDriverQueueBytes);
  }

  LineSettingsResult ApplySettings(const char* settings) override {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!BuildCommDCBA(settings, &dcb)) return Failed(LineSettingsResult::kBadParameters);
    dcb.fBinary = TRUE;  // the only mode Windows supports
    if (!SetCommState(handle_.get(), &dcb)) return Failed(LineSettingsResult::kApplyFailed);
    return LineSettingsResult::kApplied;
  }

  bool SetTimeouts(uint32_t readConstantMs, uint32_t writeConstantMs) override {
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = readConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = writeConstantMs;
    if (!SetCommTimeouts(handle_.get(), &timeouts)) return Failed(false);
    return true;
  }

  bool Read(uint8_t* data, size_t length, size_t* count) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(handle_.get(), data, static_cast<DWORD>(length), &got, nullptr);
    *count = got;
    if (ok) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_COUNTER_TIMEOUT || error == ERROR_TIMEOUT) {
      *count = 0;
      return true;  // some drivers report the time-out as an error: it is a silent line
    }
    lastError_ = static_cast<int>(error);
    SetLastError(error);
    return false;
  }

  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    DWORD done = 0;
    const BOOL ok = WriteFile(handle_.get(), data, static_cast<DWORD>(length), &done, nullptr);
    *count = done;
    if (!ok) return Failed(false);
    if (done < length) {
      // The write time-out passed: what did not go out is a failure, not a success.
      lastError_ = ERROR_TIMEOUT;
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    return true;
  }

  bool SetBreak(bool on) override {
    const BOOL ok = on ? SetCommBreak(handle_.get()) : ClearCommBreak(handle_.get());
    return ok ? true : Failed(false);
  }

  bool Purge(unsigned flags) override {
    return PurgeComm(handle_.get(), flags) ? true : Failed(false);
  }

  int LastError() const override { return lastError_; }

 private:
  template <typename T>
  T Failed(T result) {
    lastError_ = static_cast<int>(GetLastError());
    return result;
  }

  Win32Handle handle_;
  int lastError_ = 0;
};

}  // namespace

std::unique_ptr<SerialLine> OpenPlatformSerialLine(const std::string& name, int* error) {
  const std::string path = WindowsDevicePath(name);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<SerialLine>(new Win32SerialLine(handle));
}
