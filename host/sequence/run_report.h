// The record of one run, for a factory's production database: which board got which identity
// from which images, and how every step went. Written as one JSON object when the run ends, to a
// temporary file beside the record's name and then renamed, so that a reader never sees half a
// record. It holds no password and no proxy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/platform/utc_time.h"
#include "host/sequence/containers.h"

class RunReport {
 public:
  explicit RunReport(const UtcTime& started);

  // Size and CRC-32 of the four image files in the current folder, as the run starts.
  void RecordImages();
  void SetLog(const std::string& name) { log_ = name; }
  void SetPort(const std::string& port) { port_ = port; }
  // What step 1 read from the board (an empty map: none), and the two values step 4 types.
  void SetReadIdentity(const OptionMap& backup) { read_ = backup; }
  void SetProgrammedIdentity(const OptionMap& identity) { programmed_ = identity; }
  // A step's try begins and ends; tries of one step add up in one entry, in the order the steps
  // first ran. Times come from the host clock.
  void StepBegins(int step, const std::string& name);
  void StepEnds(int step, bool succeeded);
  void SetFailedStep(const std::string& name) { failedStep_ = name; }
  // Why the run could not go on, in words (a port that would not open, a refused start).
  void SetError(const std::string& words) { error_ = words; }

  // The record as text.
  std::string Json(int exitStatus, const UtcTime& finished) const;
  // Writes it under path; false after a printed error line.
  bool Write(const std::string& path, int exitStatus, const UtcTime& finished) const;

 private:
  struct Image {
    std::string name;
    std::optional<uint64_t> bytes;
    std::optional<uint32_t> crc32;
  };
  struct Step {
    int step;
    std::string name;
    bool succeeded;
    int attempts;
    uint64_t ms;
    uint32_t beganAt;
  };

  UtcTime started_;
  std::optional<std::string> log_;
  std::optional<std::string> port_;
  std::optional<OptionMap> read_;
  std::optional<OptionMap> programmed_;
  std::vector<Image> images_;
  std::vector<Step> steps_;
  std::optional<std::string> failedStep_;
  std::optional<std::string> error_;
};

// "2014-06-23T09:05:07.045Z".
std::string IsoUtcTime(const UtcTime& time);
