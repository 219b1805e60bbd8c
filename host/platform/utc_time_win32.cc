#include <windows.h>

#include "host/platform/utc_time.h"

UtcTime CurrentUtcTime() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return UtcTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                 now.wMilliseconds};
}
