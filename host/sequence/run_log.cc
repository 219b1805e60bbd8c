#include "host/sequence/run_log.h"

#include <cstdio>
#include <iostream>

#include "host/link/log_file.h"
#include "host/platform/console.h"

std::string LogFileName(const UtcTime& time) {
  return "[" + std::to_string(time.year) + "-" + std::to_string(time.month) + "-" +
         std::to_string(time.day) + "]-" + std::to_string(time.hour) + "-" +
         std::to_string(time.minute) + "-" + std::to_string(time.second) + "-" +
         std::to_string(time.milliseconds) + ".log";
}

bool ParseLogFileName(const std::string& name, UtcTime* time) {
  UtcTime t{};
  const int fields = std::sscanf(name.c_str(), "[%d-%d-%d]-%d-%d-%d-%d.log", &t.year, &t.month, &t.day,
                                 &t.hour, &t.minute, &t.second, &t.milliseconds);
  // Written back, the numbers must give the same name: no signs, blanks, leading zeros or tail.
  if (fields != 7 || LogFileName(t) != name) return false;
  *time = t;
  return true;
}

namespace {

// Runs that start together on one PC are a handful, not thousands.
constexpr int kMaxNamesTried = 1000;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[(month - 1) % 12];
}

}  // namespace

UtcTime NextMillisecond(const UtcTime& time) {
  UtcTime t = time;
  if (++t.milliseconds < 1000) return t;
  t.milliseconds = 0;
  if (++t.second < 60) return t;
  t.second = 0;
  if (++t.minute < 60) return t;
  t.minute = 0;
  if (++t.hour < 24) return t;
  t.hour = 0;
  if (++t.day <= DaysInMonth(t.year, t.month)) return t;
  t.day = 1;
  if (++t.month <= 12) return t;
  t.month = 1;
  ++t.year;
  return t;
}

std::string CreateRunLog(const UtcTime& started) {
  const std::string first = LogFileName(started);
  std::string name = first;
  NewFileResult result = OpenNewLogFile(name);
  UtcTime t = started;
  for (int tried = 1; result == NewFileResult::kExists && tried < kMaxNamesTried; ++tried) {
    t = NextMillisecond(t);
    name = LogFileName(t);
    result = OpenNewLogFile(name);
  }
  SetConsoleColour(kColourHighlight);
  std::cout << "Create log: " << name;
  SetConsoleColour(kColourNormal);
  std::cout << std::endl;
  if (result != NewFileResult::kCreated) {
    std::cout << "Warning: cannot create log file " << name << ", the run goes on without a log" << std::endl;
    return "";
  }
  if (name != first) {
    const std::string note =
        "The log file " + first + " belongs to another run; this run writes " + name + ".\n";
    std::cout << note << std::flush;
    WriteLog(note);
  }
  return name;
}
