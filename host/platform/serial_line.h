// One open serial line under the RS232 object, chosen by the port name:
//   "COM3"                 Windows kernel32 serial calls ("COM10" and up through "\\.\COM10")
//   "/dev/ttyUSB0"         POSIX termios
//   "rfc2217://HOST:PORT"  a network serial server speaking Telnet COM-PORT-OPTION
//   anything a test registered with RegisterSerialLineOpener (the simulated target)
// The operations mirror what the Windows driver offers, so that RS232 keeps the semantics the
// protocol code relies on whatever stands behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Bits of Purge(), with the values of PurgeComm.
constexpr unsigned kPurgeTxAbort = 0x01;
constexpr unsigned kPurgeRxAbort = 0x02;
constexpr unsigned kPurgeTxClear = 0x04;
constexpr unsigned kPurgeRxClear = 0x08;

enum class LineSettingsResult {
  kApplied,
  kBadParameters,   // the settings text could not be parsed (BuildCommDCBA failed)
  kApplyFailed,     // the device refused them (SetCommState failed)
};

class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Applies a Windows mode string such as "baud=115200 data=8 parity=n stop=1 xon=off".
  virtual LineSettingsResult ApplySettings(const char* settings) = 0;

  // Total time-outs as COMMTIMEOUTS with a multiplier of 1 ms a byte: a read of n bytes gives up
  // after n + readConstantMs, a write of n bytes after n + writeConstantMs.
  virtual bool SetTimeouts(uint32_t readConstantMs, uint32_t writeConstantMs) = 0;

  // Blocks until length bytes arrived or the read time-out passed. A read that times out succeeds
  // with *count < length (0 on a silent line). False only on a real failure (LastError() tells).
  virtual bool Read(uint8_t* data, size_t length, size_t* count) = 0;

  // Blocks until the whole buffer went to the driver or the write time-out passed.
  virtual bool Write(const uint8_t* data, size_t length, size_t* count) = 0;

  // Raises (true) or clears (false) the break condition on the transmit line.
  virtual bool SetBreak(bool on) = 0;

  // Drops pending data and aborts pending operations, by the kPurge* bits.
  virtual bool Purge(unsigned flags) = 0;

  // The system error number of the last failure (GetLastError on Windows, errno on POSIX).
  virtual int LastError() const = 0;
};

// Opens a line by port name. On failure returns null and puts the system error number in *error.
std::unique_ptr<SerialLine> OpenSerialLine(const std::string& name, int* error);

// Lines that tests provide: a name that starts with prefix is opened by opener.
using SerialLineOpener = std::function<std::unique_ptr<SerialLine>(const std::string& name, int* error)>;
void RegisterSerialLineOpener(const std::string& prefix, SerialLineOpener opener);
void UnregisterSerialLineOpener(const std::string& prefix);
// True when a registered opener serves the name: a line inside this process, out of other
// programs' reach.
bool IsRegisteredSerialLine(const std::string& name);

// The host and port of a network serial server's name, "rfc2217://HOST:PORT" (optionally with a
// path or "?options" after it, pyserial's URL form; "[v6 address]" for IPv6). False for any other
// name and for a malformed one.
bool SplitRfc2217Url(const std::string& name, std::string* host, std::string* port);
