#include "host/link/log_file.h"

#include <cstdio>

namespace {

// The one log stream of the process, as the console operations append to it without being
// handed it.
FILE* logFile = nullptr;
// The words of the last port that would not open, for the run's record.
std::string portTrouble;

constexpr size_t kLogLineLimit = 255;

void AppendWithCrLf(const std::string& text) {
  for (char c : text) {
    if (c == '\n') std::fputc('\r', logFile);
    std::fputc(c, logFile);
  }
}

}  // namespace

bool OpenLogFile(const std::string& name) {
  CloseLogFile();
  logFile = std::fopen(name.c_str(), "wb");
  return logFile != nullptr;
}

NewFileResult OpenNewLogFile(const std::string& name) {
  CloseLogFile();
  return CreateNewFile(name, &logFile);
}

void CloseLogFile() {
  if (!logFile) return;
  std::fflush(logFile);
  std::fclose(logFile);
  logFile = nullptr;
}

bool LogFileIsOpen() { return logFile != nullptr; }

void WriteLog(const std::string& text) {
  if (!logFile || text.size() >= kLogLineLimit) return;
  AppendWithCrLf(text);
  std::fflush(logFile);  // a run that is cut off still leaves its record
}

void LogTargetLine(const std::string& line) { WriteLog(line); }

void LogPortTrouble(const std::string& words) {
  portTrouble = words;
  WriteLog(words + "\n");
}

const std::string& LastPortTrouble() { return portTrouble; }

void ForgetPortTrouble() { portTrouble.clear(); }
