#include "host/sequence/run_log.h"

#include <iostream>

#include "host/link/log_file.h"
#include "host/platform/console.h"

std::string LogFileName(const UtcTime& time) {
  return "[" + std::to_string(time.year) + "-" + std::to_string(time.month) + "-" +
         std::to_string(time.day) + "]-" + std::to_string(time.hour) + "-" +
         std::to_string(time.minute) + "-" + std::to_string(time.second) + "-" +
         std::to_string(time.milliseconds) + ".log";
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
