#include "host/sequence/run_report.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "host/link/boot_loader_flashing.h"
#include "host/link/crc32.h"
#include "host/link/flasher_upload.h"
#include "host/link/kernel_upload.h"
#include "host/link/url_credentials.h"
#include "host/platform/clock.h"
#include "host/platform/durable_file.h"
#include "host/sequence/banner.h"

namespace {

using Json = nlohmann::ordered_json;
using Lock = std::lock_guard<std::mutex>;

constexpr char kSucceeded[] = "succeeded";
constexpr char kFailed[] = "failed";
constexpr char kInterrupted[] = "interrupted";
constexpr char kRunning[] = "running";  // a try under way

Json TextOrNull(const std::optional<std::string>& text) {
  return text ? Json(HideUrlCredentials(*text)) : Json(nullptr);
}

// serialno and ethaddr, each null when missing; null as a whole when the map is absent or empty.
Json IdentityJson(const std::optional<OptionMap>& identity) {
  if (!identity || identity->empty()) return nullptr;
  Json values = Json::object();
  for (const char* key : {"serialno", "ethaddr"}) {
    const auto found = identity->find(key);
    values[key] = found == identity->end() ? Json(nullptr) : Json(found->second);
  }
  return values;
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

const char* ResultName(RunReport::Result result) {
  switch (result) {
    case RunReport::Result::kRunning:
      return kRunning;
    case RunReport::Result::kSucceeded:
      return kSucceeded;
    case RunReport::Result::kFailed:
      return kFailed;
    case RunReport::Result::kRejected:
      return "rejected";
    case RunReport::Result::kInterrupted:
      return kInterrupted;
  }
  return "";
}

}  // namespace

std::string IsoUtcTime(const UtcTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds);
  return text;
}

RunReport::RunReport(const UtcTime& started) : started_(started) {}

void RunReport::SetPath(const std::string& path) {
  Lock lock(mutex_);
  path_ = path;
}

void RunReport::SetEvents(RunEvents* events) {
  Lock lock(mutex_);
  events_ = events;
}

std::vector<RunImage> RunReport::Images() const {
  Lock lock(mutex_);
  std::vector<RunImage> images;
  for (const Image& image : images_) images.push_back(RunImage{image.role, image.name, image.bytes, image.crc32});
  return images;
}

void RunReport::RecordImages() {
  Crc32 crc;
  Crc32Init(crc, kCrc32Polynomial, kCrc32InitialValue, kCrc32FinalXor);
  std::vector<Image> images;
  const std::pair<const char*, const char*> files[] = {
      {"flasher", kFlasherImageFile}, {"ubl", kUblImageFile}, {"uboot", kUbootImageFile}, {"kernel", kKernelImageName}};
  for (const auto& file : files) {
    const char* name = file.second;
    Image image{file.first, name, std::nullopt, std::nullopt};
    std::ifstream in(name, std::ios::binary);
    if (in) {
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
      if (!in.bad()) {
        image.bytes = bytes.size();
        image.crc32 = Crc32Compute(crc, bytes.size(), bytes.data());
      }
    }
    images.push_back(image);
  }
  Lock lock(mutex_);
  images_ = images;
}

void RunReport::SetLog(const std::string& name) {
  Lock lock(mutex_);
  if (EndedLocked()) return;
  log_ = name;
}

void RunReport::SetPort(const std::string& port) {
  Lock lock(mutex_);
  if (EndedLocked()) return;
  port_ = port;
}

void RunReport::SetReadIdentity(const OptionMap& backup, const std::vector<std::string>& lacked) {
  Lock lock(mutex_);
  if (EndedLocked()) return;
  read_ = backup;
  lacked_ = lacked;
}

void RunReport::SetProgrammedIdentity(const OptionMap& identity) {
  Lock lock(mutex_);
  if (EndedLocked()) return;
  programmed_ = identity;
}

void RunReport::SetIdentityWritten() {
  Lock lock(mutex_);
  if (written_ || EndedLocked()) return;
  written_ = true;
  if (events_ && result_ == Result::kRunning) events_->IdentityWritten();
  WriteLocked();
}

void RunReport::SetFailedStep(const std::string& name) {
  Lock lock(mutex_);
  if (EndedLocked()) return;
  failedStep_ = name;
}

void RunReport::SetError(const std::string& words) {
  Lock lock(mutex_);
  if (EndedLocked()) return;
  error_ = words;
}

void RunReport::StepBegins(int step, const std::string& name) {
  const uint32_t now = HostClock().TickMs();
  Lock lock(mutex_);
  if (EndedLocked()) return;
  for (size_t i = 0; i < steps_.size(); ++i) {
    if (steps_[i].step != step) continue;
    ++steps_[i].attempts;
    steps_[i].result = kRunning;
    steps_[i].beganAt = now;
    stepInProgress_ = lastStepBegun_ = static_cast<int>(i);
    if (events_ && result_ == Result::kRunning) events_->StepBegin(step, name, steps_[i].attempts);
    return;
  }
  steps_.push_back(Step{step, name, kRunning, 1, 0, now});
  stepInProgress_ = lastStepBegun_ = static_cast<int>(steps_.size() - 1);
  if (events_ && result_ == Result::kRunning) events_->StepBegin(step, name, 1);
}

void RunReport::StepEnds(int step, bool succeeded, const std::string& words) {
  const uint32_t now = HostClock().TickMs();
  Lock lock(mutex_);
  if (EndedLocked()) return;
  for (Step& entry : steps_) {
    if (entry.step != step) continue;
    entry.result = succeeded ? kSucceeded : kFailed;
    entry.ms += now - entry.beganAt;
    // An interruption has told the end of this try already.
    if (events_ && result_ == Result::kRunning) {
      events_->StepEnd(step, entry.name, entry.attempts, entry.result, (now - entry.beganAt) / 1000.0,
                       succeeded ? std::string() : words);
    }
  }
  stepInProgress_ = -1;
}

bool RunReport::Save() {
  Lock lock(mutex_);
  // An ended record stays as its end wrote it.
  if (EndedLocked()) return !writeFailed_;
  return WriteLocked();
}

bool RunReport::End(Result result, int exitStatus) {
  Lock lock(mutex_);
  return EndLocked(result, exitStatus);
}

bool RunReport::EndLocked(Result result, int exitStatus) {
  if (result_ != Result::kRunning) return !writeFailed_;
  result_ = result;
  exitStatus_ = exitStatus;
  finished_ = CurrentUtcTime();
  const bool written = WriteLocked();
  if (events_) {
    // A record that cannot be written fails the run: the status is the one the program ends with.
    std::optional<int> step;
    if (lastStepBegun_ >= 0) step = steps_[static_cast<size_t>(lastStepBegun_)].step;
    events_->RunEnd(ResultName(result), written ? exitStatus : 1, step);
  }
  return written;
}

int RunReport::Interrupt(const std::string& how, std::string* line) {
  const uint32_t now = HostClock().TickMs();
  Lock lock(mutex_);
  line->clear();
  if (result_ != Result::kRunning) return exitStatus_;
  std::string where = "before its first step";
  if (lastStepBegun_ >= 0) {
    // In a step, or between two tries of it (a retry question, a pause): the step begun last.
    Step& step = steps_[static_cast<size_t>(lastStepBegun_)];
    if (stepInProgress_ == lastStepBegun_) {
      step.result = kInterrupted;
      step.ms += now - step.beganAt;
      stepInProgress_ = -1;
      if (events_) {
        events_->StepEnd(step.step, step.name, step.attempts, kInterrupted, (now - step.beganAt) / 1000.0,
                         "interrupted (" + how + ")");
      }
    }
    where = "in step " + std::to_string(step.step) + " (" + step.name + ")";
    failedStep_ = step.name;
  }
  *line = "Error: the run was interrupted (" + how + ") " + where + ".";
  error_ = *line;
  EndLocked(Result::kInterrupted, 1);
  return 1;
}

std::string RunReport::Json() const {
  Lock lock(mutex_);
  return JsonLocked();
}

std::string RunReport::JsonLocked() const {
  ::Json record;
  record["program"] = "BrenloFix";
  record["version"] = kBrenloFixVersion;
  record["port"] = TextOrNull(port_);
  record["started"] = IsoUtcTime(started_);
  record["finished"] = finished_ ? ::Json(IsoUtcTime(*finished_)) : ::Json(nullptr);
  record["result"] = ResultName(result_);
  record["exitStatus"] = result_ == Result::kRunning ? ::Json(nullptr) : ::Json(exitStatus_);
  record["failedStep"] = TextOrNull(failedStep_);
  record["error"] = TextOrNull(error_);
  record["log"] = TextOrNull(log_);
  record["identity"] = {
      {"read", IdentityJson(read_)}, {"lacked", lacked_}, {"programmed", IdentityJson(programmed_)},
      {"written", written_}};
  record["images"] = ::Json::array();
  for (const Image& image : images_) {
    record["images"].push_back({{"name", image.name},
                                {"bytes", image.bytes ? ::Json(*image.bytes) : ::Json(nullptr)},
                                {"crc32", image.crc32 ? ::Json(Hex8(*image.crc32)) : ::Json(nullptr)}});
  }
  record["steps"] = ::Json::array();
  for (const Step& step : steps_) {
    record["steps"].push_back({{"step", step.step},
                               {"name", step.name},
                               {"result", step.result},
                               {"attempts", step.attempts},
                               {"seconds", static_cast<double>(step.ms) / 1000.0}});
  }
  // What a board sends is not always UTF-8 (a damaged serial number): such bytes become U+FFFD
  // instead of ending the run without a record.
  return record.dump(2, ' ', false, ::Json::error_handler_t::replace) + "\n";
}

bool RunReport::WriteLocked() {
  if (path_.empty()) return true;
  std::string error;
  if (ReplaceFileDurably(path_, JsonLocked(), &error)) {
    writeFailed_ = false;
    return true;
  }
  if (!writeFailed_) {
    std::cout << "Error: cannot write the run's record to " << path_ << " (" << error << ")." << std::endl;
  }
  writeFailed_ = true;
  return false;
}
