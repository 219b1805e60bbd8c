#include <windows.h>
#include <winsock2.h>

#include "host/platform/system_error.h"

std::string SystemErrorText(int error) {
  char buffer[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                      buffer, sizeof buffer, nullptr);
  std::string words(buffer, length);
  // The system's text ends in a period and a line end; the caller goes on after it.
  while (!words.empty() &&
         (words.back() == '\r' || words.back() == '\n' || words.back() == ' ' || words.back() == '.')) {
    words.pop_back();
  }
  for (char& c : words) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (words.empty()) return "error " + std::to_string(error);
  return words;
}

PortOpenTrouble ClassifyPortOpenError(int error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return PortOpenTrouble::kNoSuchPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return PortOpenTrouble::kHeld;
    case WSAECONNREFUSED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return PortOpenTrouble::kServerRefused;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAHOST_NOT_FOUND:
    case WSAEHOSTDOWN:
      return PortOpenTrouble::kServerUnreachable;
    case WSAEPROTONOSUPPORT:
      return PortOpenTrouble::kServerNotBinary;
    default:
      return PortOpenTrouble::kOther;
  }
}
