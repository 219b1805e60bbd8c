// What an error number means, in the system's own words, and what kind of trouble it is when a
// serial port would not open.
#pragma once

#include <string>

// strerror on POSIX, FormatMessageA on Windows; one line, without its closing period or line end.
// A number the system has no words for: "error N".
std::string SystemErrorText(int error);

// The kinds of a failed open that an operator can act on.
enum class PortOpenTrouble {
  kNoSuchPort,         // the name names no port on this PC
  kNotASerialPort,     // the name names something else (a file, a disk)
  kHeld,               // another program has the port open
  kNoPermission,       // this user may not open it (POSIX: not in the port's group)
  kServerRefused,      // a network serial server refused the connection or closed it at once
  kServerUnreachable,  // a network serial server that could not be reached in time
  kServerNotBinary,    // a network serial server that refuses binary transmission
  kOther,
};

PortOpenTrouble ClassifyPortOpenError(int error);
