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

void CreateRunLog(const std::string& name) {
  SetConsoleColour(kColourHighlight);
  std::cout << "Create log: " << name;
  SetConsoleColour(kColourNormal);
  std::cout << std::endl;
  if (!OpenLogFile(name)) {
    std::cout << "Warning: cannot create log file " << name << ", the run goes on without a log"
              << std::endl;
  }
}
