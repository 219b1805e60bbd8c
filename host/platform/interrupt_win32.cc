#include <windows.h>

#include <iostream>
#include <mutex>

#include "host/platform/interrupt.h"

namespace {

// The console calls its handlers on a thread of its own, one for each event.
InterruptWatch::Handler handler;
std::mutex handling;

const char* EventName(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "the console window was closed";
    case CTRL_LOGOFF_EVENT:
      return "the user logged off";
    case CTRL_SHUTDOWN_EVENT:
      return "Windows shut down";
    default:
      return "a console event";
  }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  // A second event waits here until the first one's handler has ended the process.
  handling.lock();
  if (!handler) {
    handling.unlock();
    return FALSE;  // the watch has ended: the system's own handling
  }
  const int status = handler(EventName(event));
  std::cout.flush();
  // Nothing else runs: the program's own thread may hold the runtime's locks.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch(Handler onInterrupt) {
  std::lock_guard<std::mutex> lock(handling);
  handler = std::move(onInterrupt);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard<std::mutex> lock(handling);
  handler = nullptr;
}
