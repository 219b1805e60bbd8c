#include <cerrno>
#include <cstring>

#include "host/platform/system_error.h"

std::string SystemErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r gives its words back, and they may not be in the buffer.
  const char* words = strerror_r(error, buffer, sizeof buffer);
  if (!words || !*words) return "error " + std::to_string(error);
  return words;
}

PortOpenTrouble ClassifyPortOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return PortOpenTrouble::kNoSuchPort;
    case ENOTTY:
    case EISDIR:
      return PortOpenTrouble::kNotASerialPort;
    case EBUSY:
      return PortOpenTrouble::kHeld;
    case EACCES:
    case EPERM:
      return PortOpenTrouble::kNoPermission;
    case ECONNREFUSED:
    case ECONNRESET:
    case EPIPE:  // the server closed the connection before the first bytes went out
      return PortOpenTrouble::kServerRefused;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
      return PortOpenTrouble::kServerUnreachable;
    case EPROTONOSUPPORT:
      return PortOpenTrouble::kServerNotBinary;
    default:
      return PortOpenTrouble::kOther;
  }
}
