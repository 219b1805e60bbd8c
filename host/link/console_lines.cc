#include "host/link/console_lines.h"

#include <iostream>
#include <string>

#include "host/link/log_file.h"
#include "host/link/url_credentials.h"

// One finished line on the console: its own last character ends the console line, and a line
// ended by a carriage return is overwritten by the next "Target: ".
// A proxy's password the board echoes is not shown.
void ShowTargetLineOnly(const std::string& target) {
  const std::string line = HideUrlCredentials(target);
  std::cout << "Target: ";
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout << std::flush;
}

void ReportLine(const std::string& line) {
  std::cout << std::endl << line << std::endl;
  WriteLog("\n" + line + "\n");
}

void ShowTargetLine(const std::string& line) {
  ShowTargetLineOnly(line);
  LogTargetLine(line);  // lines of 255 characters or more are shown but not logged
}
