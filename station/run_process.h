// One BrenloFix run as a child process: a session of its own (a Ctrl-C at the station's terminal
// reaches the station alone, which stops every run in order), its console output (standard output
// and error) copied into the run's console capture as it comes, and its events read from a pipe it
// inherits as descriptor 3. The station's loop polls the two descriptors and reaps the child.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "station/run_progress.h"

struct RunCommand {
  std::string program;
  std::vector<std::string> argv;  // without the program
  std::vector<std::string> environment;  // NAME=VALUE, the whole environment of the run
  std::string folder;                    // where it runs (the images folder)
  bool events = false;                   // give it --events fd:3
};

// The descriptor the run finds its events pipe on.
constexpr int kEventsFd = 3;

class RunProcess {
 public:
  // Starts the run; capture is the console capture, open for writing (taken over). Null after a line
  // in words on *error (the capture is closed then).
  static std::unique_ptr<RunProcess> Start(const RunCommand& command, int capture, std::string* error);
  ~RunProcess();
  RunProcess(const RunProcess&) = delete;
  RunProcess& operator=(const RunProcess&) = delete;

  pid_t Pid() const { return pid_; }
  int OutputFd() const { return output_; }  // -1 once it ended
  int EventsFd() const { return events_; }  // -1 once it ended

  // Reads what is there. A capture that cannot be written is closed and told once in *trouble;
  // the output goes on being read to its end either way, so the run never blocks on a full pipe.
  void ReadOutput(RunProgress* progress, std::string* trouble);
  void ReadEvents(RunProgress* progress);
  // Takes the child's exit status when it has ended (without waiting).
  void Reap();
  // Sends a signal to the run's whole session.
  void Signal(int number);

  // Exited, and its output and events read to their end.
  bool Ended() const { return exited_ && output_ < 0 && events_ < 0; }
  bool Exited() const { return exited_; }
  // The exit status; a run ended by a signal gives minus the signal's number.
  int Status() const { return status_; }
  // Closes the capture, reporting a failure to write its last bytes in *trouble.
  void CloseCapture(std::string* trouble);

 private:
  RunProcess() = default;

  pid_t pid_ = -1;
  int output_ = -1;
  int events_ = -1;
  int capture_ = -1;
  bool exited_ = false;
  int status_ = 0;
  std::string pendingOutput_;
  std::string pendingEvents_;
};
