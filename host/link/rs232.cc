#include "host/link/rs232.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "host/link/log_file.h"
#include "host/link/port_open_error.h"
#include "host/platform/clock.h"
#include "host/platform/serial_line_settings.h"
#include "host/platform/stop_gate.h"

namespace {

constexpr uint32_t kDefaultReadTotalMs = 1000;
constexpr uint32_t kDefaultWriteTotalMs = 100;
constexpr uint32_t kBreakMs = 500;
constexpr uint32_t kPacedWritePauseMs = 10;
// Enough of the last input to hold U-Boot's prompt and the blanks after it.
constexpr size_t kRecentInputSize = 32;

// Messages go to standard output and are flushed at once, as every console line of the program.
void Print(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::cout << text << std::flush;
}

// A bounded copy as the fields keep it: no terminator when the text fills the field.
// One character's time on the line: a start bit, the data bits, the parity bit and the stop bits.
// Settings the line could not take leave it at the rate every caller asks for, 115200 8N1.
uint64_t CharacterNs(const char* settings) {
  LineSettings line;
  if (!ParseLineSettings(settings, &line)) line = LineSettings();
  const uint64_t halfBits = 2u + 2u * line.dataBits + (line.parity == 'n' ? 0u : 2u) +
                            (line.stopBits == 15 ? 3u : 2u * line.stopBits);
  return halfBits * 1000000000ull / (2ull * line.baud);
}

template <size_t N>
void CopyBounded(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::memcpy(field, text, strnlen(text, N));
}

}  // namespace

RS232::RS232() : pacedWrite(0), isOpen(0) {
  portName[0] = '\0';
  openParams[0] = '\0';
}

RS232::~RS232() {
  isOpen = 0;
  handle.reset();
}

int RS232::Open(const char* path, const char* settings) {
  if (isOpen) return 1;
  if (!path || !settings) {
    Print("Bad RS232 open parameters.\n");
    return 0;
  }
  CopyBounded(portName, path);
  CopyBounded(openParams, settings);

  int error = 0;
  handle = OpenSerialLine(path, &error);
  if (!handle) {
    char line[512];
    std::snprintf(line, sizeof line, "Could not open %s port: error(%d)\n", path, error);
    // The number alone tells the operator little: the system's words and a hint follow. Both
    // lines go into the log, the words into the run's record too.
    const std::string words = DescribePortOpenError(path, error);
    std::cout << line << words << std::endl;
    WriteLog(line);
    LogPortTrouble(words);
    return 0;
  }

  switch (handle->ApplySettings(settings)) {
    case LineSettingsResult::kBadParameters:
      Print("Bad COM port parameters, leave windows defaults.\n");
      break;
    case LineSettingsResult::kApplyFailed:
      Print("SetCommState() failed, leave windows defaults for RS-232.\n");
      break;
    case LineSettingsResult::kApplied:
      break;
  }
  characterNs_ = ::CharacterNs(settings);
  backlogNs_ = 0;
  ForgetInput();
  echoDelays_ = 0;
  uBootLineCleared_ = false;
  SetTimeouts(0, 0);
  if (!handle->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear)) {
    Print("PurgeComm() failed.\n");
  }
  isOpen = 1;
  return 1;
}

void RS232::Close() {
  isOpen = 0;
  handle.reset();
}

int RS232::Reopen() {
  if (isOpen) Close();
  // A path of 10 characters or more was cut when it was stored; opening the cut name would reach
  // some other port, so that is refused like a missing path.
  const std::string path(portName, strnlen(portName, sizeof portName));
  const std::string settings(openParams, strnlen(openParams, sizeof openParams));
  if (path.size() >= sizeof portName || settings.size() >= sizeof openParams) {
    Print("Bad RS232 open parameters.\n");
    return 0;
  }
  return Open(path.c_str(), settings.c_str());
}

int RS232::Write(const void* data, uint32_t length, uint32_t* written, int /*reserved*/) {
  if (!data || length == 0 || !isOpen || !handle) return 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (!pacedWrite) {
    StopGate::Act act(RunStopGate());
    size_t count = 0;
    const bool ok = handle->Write(bytes, length, &count);
    NoteWritten(static_cast<uint32_t>(count));
    if (written) *written = static_cast<uint32_t>(count);
    return ok ? 1 : 0;
  }
  // Typed at a console one character at a time, so that the target's line editor keeps up.
  uint32_t total = 0;
  bool ok = false;
  for (uint32_t i = 0; i < length; ++i) {
    size_t count = 0;
    {
      StopGate::Act act(RunStopGate());
      ok = handle->Write(bytes + i, 1, &count);
    }
    NoteWritten(static_cast<uint32_t>(count));
    total += static_cast<uint32_t>(count);
    HostClock().SleepMs(kPacedWritePauseMs);
  }
  if (written) *written = total;
  return ok ? 1 : 0;
}

int RS232::Read(void* buffer, uint32_t length, uint32_t* readCount, int /*reserved*/) {
  if (!buffer || length == 0 || !isOpen || !handle) return 0;
  if (readCount) *readCount = 0;
  size_t count = 0;
  // The line reports its time-out as a success with fewer bytes, which is what callers expect.
  const bool ok = handle->Read(static_cast<uint8_t*>(buffer), length, &count);
  NoteRead(static_cast<const uint8_t*>(buffer), static_cast<uint32_t>(count));
  if (readCount) *readCount = static_cast<uint32_t>(count);
  return ok ? 1 : 0;
}

int RS232::ReadWithin(void* buffer, uint32_t length, uint32_t* readCount, uint32_t waitMs) {
  if (!buffer || length == 0 || !isOpen || !handle) return 0;
  // The line's total read time-out is one millisecond a byte plus the constant.
  if (!handle->SetTimeouts(waitMs > length ? waitMs - length : 0, writeTotalMs_)) return 0;
  const int result = Read(buffer, length, readCount, 0);
  handle->SetTimeouts(readTotalMs_, writeTotalMs_);
  return result;
}

uint32_t RS232::LineBacklogMs() {
  const uint32_t now = HostClock().TickMs();
  const uint64_t drainedNs = uint64_t{now - backlogTick_} * 1000000u;
  backlogNs_ = drainedNs >= backlogNs_ ? 0 : backlogNs_ - drainedNs;
  backlogTick_ = now;
  return static_cast<uint32_t>(backlogNs_ / 1000000u);
}

void RS232::NoteOutputDelivered() {
  backlogNs_ = 0;
  backlogTick_ = HostClock().TickMs();
}

void RS232::NoteRead(const uint8_t* bytes, uint32_t count) {
  if (count == 0) return;
  anyInputRead_ = true;
  recentInput_.append(reinterpret_cast<const char*>(bytes), count);
  if (recentInput_.size() > kRecentInputSize) recentInput_.erase(0, recentInput_.size() - kRecentInputSize);
}

void RS232::NoteEchoDelay(uint32_t ms) {
  minEchoDelayMs_ = echoDelays_ == 0 || ms < minEchoDelayMs_ ? ms : minEchoDelayMs_;
  maxEchoDelayMs_ = echoDelays_ == 0 || ms > maxEchoDelayMs_ ? ms : maxEchoDelayMs_;
  if (echoDelays_ < UINT32_MAX) ++echoDelays_;
}

void RS232::ForgetInput() {
  recentInput_.clear();
  anyInputRead_ = false;
}

void RS232::NoteWritten(uint32_t count) {
  LineBacklogMs();  // what has drained since the last write
  backlogNs_ += uint64_t{count} * characterNs_;
}

int RS232::SendBreak() {
  if (!isOpen || !handle) return 0;
  // The break ends before a stopped run ends: the board is never left held in reset.
  StopGate::Act act(RunStopGate());
  if (!handle->SetBreak(true)) return 0;
  HostClock().SleepMs(kBreakMs);
  return handle->SetBreak(false) ? 1 : 0;
}

int RS232::PurgeInput() {
  if (!isOpen || !handle) return 0;
  ForgetInput();
  return handle->Purge(kPurgeRxAbort | kPurgeRxClear) ? 1 : 0;
}

const char* RS232::GetName() { return "RS-232"; }

int RS232::IsHaveData() {
  Print("RS232::IsHaveData() not implemented.\n");
  return 0;
}

int RS232::SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs) {
  const uint32_t readMs = readTotalMs ? readTotalMs : kDefaultReadTotalMs;
  const uint32_t writeMs = writeTotalMs ? writeTotalMs : kDefaultWriteTotalMs;
  if (!handle || !handle->SetTimeouts(readMs, writeMs)) {
    Print("SetCommTimeouts() failed.\n");
    return 0;
  }
  readTotalMs_ = readMs;
  writeTotalMs_ = writeMs;
  return 1;
}

WireTimer::WireTimer(RS232* port) : start_(HostClock().TickMs()), lead_(port->LineBacklogMs()) {}

uint32_t WireTimer::ElapsedMs() const {
  const uint32_t elapsed = HostClock().TickMs() - start_;
  return elapsed > lead_ ? elapsed - lead_ : 0;
}
