#include "host/link/console_lines.h"

#include <iostream>
#include <string>

#include "host/link/log_file.h"
#include "host/link/url_credentials.h"

namespace {

// The board's serial drivers end a line with CR LF, and U-Boot echoes the Enter as CR CR LF: a
// line the target ended with a carriage return may still have the rest of its line end coming.
// Set while the console's last target line ended with a carriage return and no line feed has
// followed it; the console is one for the whole process.
bool afterCarriageReturn = false;

bool OnlyLineEnds(const std::string& line) { return line.find_first_not_of("\r\n") == std::string::npos; }

// Line ends that finish the last line's carriage return (its LF, or CR LF after a CR) are that
// line's end, not a line: they move the cursor down once and show no "Target: ". True when the
// line was such a rest, nothing new.
bool FinishesLastLine(const std::string& target) {
  if (!afterCarriageReturn || !OnlyLineEnds(target)) return false;
  if (target.find('\n') != std::string::npos) {
    std::cout << '\n' << std::flush;
    afterCarriageReturn = false;
  }
  return true;
}

}  // namespace

// One finished line on the console: its own last character ends the console line, and a line
// ended by a carriage return is overwritten by the next "Target: ".
// A proxy's password the board echoes is not shown.
void ShowTargetLineOnly(const std::string& target) {
  if (FinishesLastLine(target)) return;
  const std::string line = HideUrlCredentials(target);
  std::cout << "Target: ";
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout << std::flush;
  afterCarriageReturn = !line.empty() && line.back() == '\r';
}

void ReportLine(const std::string& line) {
  afterCarriageReturn = false;  // the line feed before the report ends the target's line
  std::cout << std::endl << line << std::endl;
  WriteLog("\n" + line + "\n");
}

void ShowTargetLine(const std::string& line) {
  if (FinishesLastLine(line)) return;
  ShowTargetLineOnly(line);
  // The log's lines end in CR LF of its own: a line the target ended with a CR is logged as ended.
  // Lines of 255 characters or more are shown but not logged.
  if (!line.empty() && line.back() == '\r') LogTargetLine(line.substr(0, line.size() - 1) + "\n");
  else LogTargetLine(line);
}
