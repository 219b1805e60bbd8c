#include "host/link/log_file.h"

#include <cstdio>

#include "host/link/url_credentials.h"
#include "host/platform/stop_gate.h"

namespace {

// The one log stream of the process, as the console operations append to it without being
// handed it.
FILE* logFile = nullptr;
// The words of the last port that would not open, for the run's record.
std::string portTrouble;

constexpr size_t kLogLineLimit = 255;

// One write a line, so that a line another thread logs (the end of an interrupted run) never lands
// inside it.
void AppendWithCrLf(const std::string& text) {
  std::string bytes;
  bytes.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), logFile);
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
  StopGate::Act act(RunStopGate());
  AppendWithCrLf(HideUrlCredentials(text));
  std::fflush(logFile);  // a run that is cut off still leaves its record
}

void LogTargetLine(const std::string& line) { WriteLog(line); }

void LogPortTrouble(const std::string& words) {
  portTrouble = words;
  WriteLog(words + "\n");
}

const std::string& LastPortTrouble() { return portTrouble; }

void ForgetPortTrouble() { portTrouble.clear(); }
