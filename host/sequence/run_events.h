// The run as it goes, for a program that follows it (a station): one JSON object a line, written
// and flushed the moment it happens, to a file or to a descriptor the parent handed down. Every
// object carries "v" (the schema's version), "event", "t" (seconds since the run started) and
// "time" (UTC). A write that fails is told once and never stops the run: the record stays the
// run's final word. After "run-end" nothing more is written. The program's thread and an
// interruption's thread both write, so every event takes the writer's lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/sequence/containers.h"

constexpr int kRunEventsVersion = 1;

// One image file as the run starts: its role ("flasher", "ubl", "uboot", "kernel"), its file
// name, and its size and CRC-32 when it could be read.
struct RunImage {
  std::string name;
  std::string file;
  std::optional<uint64_t> size;
  std::optional<uint32_t> crc32;
};

// What "run-start" tells.
struct RunStartFacts {
  std::optional<std::string> port;  // the port given with -p; none: the run looks for one
  std::vector<RunImage> images;
  OptionMap given;     // ethaddr and serialno of -m and -s, or empty
  OptionMap fallback;  // those of --fallback-identity, or empty
  std::string typing;  // "paced" or "echo"
  bool unattended = false;
  int retries = 0;
  std::vector<int> steps;  // the steps this run goes through, in order
};

class RunEvents {
 public:
  // "t" counts from here, on the host clock.
  RunEvents();
  ~RunEvents();
  RunEvents(const RunEvents&) = delete;
  RunEvents& operator=(const RunEvents&) = delete;

  // "PATH" (created, or emptied) or "fd:N" (a descriptor open for writing). False with the
  // error line in *line; no event is written then.
  bool Open(const std::string& where, std::string* line);
  // Text that never leaves in an event (the login password): written as "***".
  void AddSecret(const std::string& secret);

  void RunStart(const RunStartFacts& facts);
  // After step 1 read the board: what it held (a map without both values: "read" null and the
  // names it lacked), what the run programs (empty: nothing) and where that comes from.
  void Identity(const OptionMap& read, const OptionMap& toProgram, const std::string& source);
  void StepBegin(int step, const std::string& name, int attempt);
  // result: "succeeded", "failed" or "interrupted"; words: why it failed ("" on success).
  void StepEnd(int step, const std::string& name, int attempt, const char* result, double seconds,
               const std::string& words);
  // How far an upload of the step under way has come. A transfer is told at most four times a
  // second, and always when it is whole; a count lower than the last, or another total, is the
  // next transfer.
  void Progress(uint64_t bytes, uint64_t total);
  // The step about to run again, its attempt, and the most attempts it may have (none: the
  // operator decides).
  void Retry(int step, int attempt, std::optional<int> of);
  void IdentityWritten();
  // result: the record's result word; step: the step begun last, if any.
  void RunEnd(const std::string& result, int status, std::optional<int> step);

 private:
  class Line;
  void Write(Line& line);
  std::string Masked(const std::string& text) const;

  mutable std::mutex mutex_;
  uint32_t startTick_;
  std::string where_;
  std::FILE* file_ = nullptr;
  int descriptor_ = -1;
  bool failed_ = false;  // a failed write is told once
  bool ended_ = false;
  std::vector<std::string> secrets_;
  int step_ = -1;  // the step begun last
  uint64_t lastBytes_ = 0;
  uint64_t lastTotal_ = 0;
  std::optional<uint32_t> lastProgressTick_;
};
