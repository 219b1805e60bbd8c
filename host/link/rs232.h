// The host program's serial port object. Each flashing step creates one, opens it by port name,
// talks to the target and deletes it before it returns; no port stays open between steps.
#pragma once

#include <cstdint>
#include <memory>

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

  // The open line; null while closed (the invalid handle).
  std::unique_ptr<SerialLine> handle;
  char portName[10];
  char openParams[100];
  int32_t pacedWrite;
  int32_t isOpen;
};
