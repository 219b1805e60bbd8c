// The wall-clock time in UTC with milliseconds (GetSystemTime on Windows), for the log file name.
#pragma once

struct UtcTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int milliseconds;
};

UtcTime CurrentUtcTime();
