// The record of one run, for a factory's production database: which board got which identity
// from which images, and how every step went. Given a file, the record is written as soon as the
// command line is accepted (result "running"), again at the end of every step, and when the run
// ends (before any key wait), each time whole: through a temporary file that reaches the disk before
// it is renamed over the record (durable_file.h), so that a reader, a crash or a power cut never
// leaves half a record. The program's thread fills it while an interruption's thread may end it,
// so every operation takes the record's lock. It holds no password, and a URL's user and password
// never. Given the run's events (run_events.h), it tells them what it records of the steps, the
// identity written and the run's end, under the same lock, so that nothing follows the end.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/platform/utc_time.h"
#include "host/sequence/containers.h"
#include "host/sequence/run_events.h"

class RunReport {
 public:
  // What the record says of the run as a whole ("result").
  enum class Result { kRunning, kSucceeded, kFailed, kRejected, kInterrupted };

  explicit RunReport(const UtcTime& started);
  const UtcTime& Started() const { return started_; }

  // Where the record goes; empty (the default): nowhere.
  void SetPath(const std::string& path);
  // Where the run's events go besides; null (the default): nowhere.
  void SetEvents(RunEvents* events);
  // Size and CRC-32 of the four image files in the current folder, as the run starts.
  void RecordImages();
  // Those images, as RecordImages found them.
  std::vector<RunImage> Images() const;
  void SetLog(const std::string& name);
  void SetPort(const std::string& port);
  // What step 1 read from the board (an empty map: none) and the values its U-Boot said it does not
  // hold, and the two values step 4 types.
  void SetReadIdentity(const OptionMap& backup, const std::vector<std::string>& lacked = {});
  void SetProgrammedIdentity(const OptionMap& identity);
  // saveenv of step 4 is about to be typed: the board may hold the programmed identity from now on,
  // also when a later step fails (identity.written). Written at once, so that a run stopped in the
  // moment that follows leaves a record that errs towards "written".
  void SetIdentityWritten();
  // A step's try begins and ends; tries of one step add up in one entry, in the order the steps
  // first ran, "running" while a try is under way. Times come from the host clock. Once the run has
  // ended (an interruption's thread may end it while the steps go on), these and the setters
  // change nothing and Save writes nothing.
  void StepBegins(int step, const std::string& name);
  // words: why a failed try failed, for the events ("" on success).
  void StepEnds(int step, bool succeeded, const std::string& words = std::string());
  void SetFailedStep(const std::string& name);
  // Why the run could not go on, in words (a port that would not open, a refused start).
  void SetError(const std::string& words);

  // Writes the record as it stands: "running" until the run ends. True when it was written (or
  // there is no file); false after a printed error line.
  bool Save();
  // The run's end with its result and exit status, written at once. Only the first end counts: a
  // later one, or an interruption, leaves the record as it was. True when the record of the end
  // was written (or there is no file).
  bool End(Result result, int exitStatus);
  // The run stopped from outside (how: "SIGTERM", "Ctrl-C", ...): unless it has ended already,
  // it ends "interrupted" in the step it was in, with exit status 1, and the record is written at
  // once. *line gets the line that says so (empty when the run had ended before); the exit status
  // the process ends with is returned.
  int Interrupt(const std::string& how, std::string* line);

  // The record as text.
  std::string Json() const;

 private:
  struct Image {
    const char* role;
    std::string name;
    std::optional<uint64_t> bytes;
    std::optional<uint32_t> crc32;
  };
  struct Step {
    int step;
    std::string name;
    const char* result;
    int attempts;
    uint64_t ms;
    uint32_t beganAt;
  };

  // The run has ended (its result written): what the run's thread still does changes nothing.
  bool EndedLocked() const { return result_ != Result::kRunning; }
  std::string JsonLocked() const;
  bool WriteLocked();
  bool EndLocked(Result result, int exitStatus);

  mutable std::mutex mutex_;
  std::string path_;
  RunEvents* events_ = nullptr;
  bool writeFailed_ = false;  // told once until a write succeeds again
  UtcTime started_;
  std::optional<UtcTime> finished_;
  Result result_ = Result::kRunning;
  int exitStatus_ = 0;
  std::optional<std::string> log_;
  std::optional<std::string> port_;
  std::optional<OptionMap> read_;
  std::vector<std::string> lacked_;
  std::optional<OptionMap> programmed_;
  bool written_ = false;
  std::vector<Image> images_;
  std::vector<Step> steps_;
  int stepInProgress_ = -1;  // index into steps_ of a try under way
  int lastStepBegun_ = -1;   // and of the step that began last
  std::optional<std::string> failedStep_;
  std::optional<std::string> error_;
};

// "2014-06-23T09:05:07.045Z".
std::string IsoUtcTime(const UtcTime& time);
