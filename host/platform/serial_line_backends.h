// The backends behind OpenSerialLine, and the one drain pump that the open line installs in the
// clock. Only the serial_line* files use this header.
#pragma once

#include <memory>
#include <string>

#include "host/platform/serial_line.h"

// The platform's own serial devices: "COM3" on Windows, "/dev/ttyS0" on POSIX.
std::unique_ptr<SerialLine> OpenPlatformSerialLine(const std::string& name, int* error);

// The path CreateFileA needs for a port name: "COM10" and up exist only in the device namespace
// ("\\.\COM10"); other names pass unchanged.
std::string WindowsDevicePath(const std::string& name);

// "rfc2217://HOST:PORT": a network serial server speaking Telnet COM-PORT-OPTION.
constexpr char kRfc2217Scheme[] = "rfc2217://";
std::unique_ptr<SerialLine> OpenRfc2217SerialLine(const std::string& name, int* error);

// A line that keeps receiving while the program sleeps. The newest open line owns the clock's
// sleep pump; it gives it back when it closes (an older line's close leaves the newer one alone).
class DrainingLine {
 public:
  virtual ~DrainingLine() = default;
  // Moves what has arrived into the line's own queue, waiting at most waitMs for it.
  virtual void Drain(uint32_t waitMs) = 0;
};
void InstallDrainPump(DrainingLine* line);
void RemoveDrainPump(DrainingLine* line);
