// The host program's serial port object. Each flashing step creates one, opens it by port name,
// talks to the target and deletes it before it returns; no port stays open between steps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/platform/serial_line.h"

// The settings text every caller passes to Open.
constexpr char kPortSettings[] = "baud=115200 data=8 parity=n stop=1 xon=off";

class RS232 {
 public:
  RS232();
  virtual ~RS232();
  RS232(const RS232&) = delete;
  RS232& operator=(const RS232&) = delete;

  virtual void Close();
  virtual int Reopen();
  // reserved is ignored (callers pass 0; the boot loader flashing step passes 1).
  virtual int Write(const void* data, uint32_t length, uint32_t* written, int reserved);
  virtual int Read(void* buffer, uint32_t length, uint32_t* readCount, int reserved);
  virtual int SendBreak();
  virtual int PurgeInput();
  virtual const char* GetName();
  virtual int IsHaveData();
  virtual int SetTimeouts(uint32_t readTotalMs, uint32_t writeTotalMs);

  int Open(const char* path, const char* settings);

  // Reads as Read, but waits at most waitMs for the bytes instead of the port's read time-out.
  int ReadWithin(void* buffer, uint32_t length, uint32_t* readCount, uint32_t waitMs);
  // How long, from now, the bytes written so far still take to leave the far end of the line at
  // its rate. A network serial server takes a large write at once and holds it in its buffers, so
  // the return of Write says nothing about when the target has the bytes.
  uint32_t LineBacklogMs();
  // The target has answered for every byte written so far (a transfer's acknowledgement): none of
  // them is still on the line.
  void NoteOutputDelivered();
  // The last bytes read since the port was opened or its input purged (up to kRecentInputSize), and
  // whether any came at all: what the target printed last, say U-Boot's prompt.
  const std::string& RecentInput() const { return recentInput_; }
  bool AnyInputRead() const { return anyInputRead_; }
  // One character's time on the line at the opened rate and framing.
  uint64_t CharacterNs() const { return characterNs_; }
  // The echo of what is typed at a console: each character's delay from the moment it left the
  // line to the moment its echo was read. The jitter is the spread of those delays since the port
  // was opened (0 before two were noted).
  void NoteEchoDelay(uint32_t ms);
  uint32_t EchoJitterMs() const { return echoDelays_ > 1 ? maxEchoDelayMs_ - minEchoDelayMs_ : 0; }
  // Whether U-Boot's line was cleared (Ctrl-C and a fresh prompt) since the port was opened: what a
  // board holds in its line buffer from before is never part of a command typed here.
  bool UBootLineCleared() const { return uBootLineCleared_; }
  void NoteUBootLineCleared() { uBootLineCleared_ = true; }

  // The open line; null while closed (the invalid handle).
  std::unique_ptr<SerialLine> handle;
  char portName[10];
  char openParams[100];
  int32_t pacedWrite;
  int32_t isOpen;

 private:
  void NoteWritten(uint32_t count);
  void NoteRead(const uint8_t* bytes, uint32_t count);
  void ForgetInput();

  uint32_t readTotalMs_ = 0;
  uint32_t writeTotalMs_ = 0;
  uint64_t characterNs_ = 0;  // one character on the line at the opened rate and framing
  uint64_t backlogNs_ = 0;    // line time still owed at backlogTick_
  uint32_t backlogTick_ = 0;
  std::string recentInput_;
  bool anyInputRead_ = false;
  uint32_t echoDelays_ = 0;
  uint32_t minEchoDelayMs_ = 0;
  uint32_t maxEchoDelayMs_ = 0;
  bool uBootLineCleared_ = false;
};

// The time of a wait that follows a write: it counts from the moment the bytes written so far can
// have left the line, not from the return of the write.
class WireTimer {
 public:
  explicit WireTimer(RS232* port);
  uint32_t ElapsedMs() const;

 private:
  uint32_t start_;
  uint32_t lead_;
};
