#include "host/sequence/run_events.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "host/link/url_credentials.h"
#include "host/platform/clock.h"
#include "host/platform/inherited_descriptor.h"
#include "host/platform/system_error.h"
#include "host/platform/utc_time.h"
#include "host/sequence/run_report.h"
#include "host/sequence/step_machine.h"

namespace {

using Json = nlohmann::ordered_json;
using Lock = std::lock_guard<std::mutex>;

constexpr char kDescriptorPrefix[] = "fd:";
// A transfer is told at most this often.
constexpr uint32_t kProgressIntervalMs = 250;

// "fd:N" with N a number of at most 9 digits: true with the number.
bool ParseDescriptor(const std::string& where, int* descriptor) {
  const size_t prefix = sizeof kDescriptorPrefix - 1;
  if (where.compare(0, prefix, kDescriptorPrefix) != 0) return false;
  const std::string digits = where.substr(prefix);
  if (digits.empty() || digits.size() > 9) return false;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  *descriptor = std::stoi(digits);
  return true;
}

std::string Hex8(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
  return text;
}

// {"mac", "serial"} of a map that holds both; null otherwise.
Json PairOrNull(const OptionMap& identity) {
  const auto mac = identity.find("ethaddr");
  const auto serial = identity.find("serialno");
  if (mac == identity.end() || serial == identity.end()) return nullptr;
  return Json{{"mac", mac->second}, {"serial", serial->second}};
}

}  // namespace

class RunEvents::Line {
 public:
  explicit Line(const char* event) { json["event"] = event; }
  Json json;
};

RunEvents::RunEvents() : startTick_(HostClock().TickMs()) {}

RunEvents::~RunEvents() {
  if (file_) std::fclose(file_);
}

bool RunEvents::Open(const std::string& where, std::string* line) {
  Lock lock(mutex_);
  std::string words;
  int descriptor = -1;
  if (ParseDescriptor(where, &descriptor)) {
    if (InheritedDescriptorWritable(descriptor, &words)) {
      descriptor_ = descriptor;
      where_ = where;
      return true;
    }
  } else if (where.compare(0, sizeof kDescriptorPrefix - 1, kDescriptorPrefix) == 0) {
    words = "fd: takes the number of a descriptor open for writing, for example fd:3";
  } else {
    // Binary: every line ends in a line feed alone, on Windows too.
    file_ = std::fopen(where.c_str(), "wb");
    if (file_) {
      where_ = where;
      return true;
    }
    words = SystemErrorText(errno);
  }
  *line = "Error: cannot write the run's events to " + where + " (" + words + ").";
  return false;
}

void RunEvents::AddSecret(const std::string& secret) {
  Lock lock(mutex_);
  if (!secret.empty()) secrets_.push_back(secret);
}

std::string RunEvents::Masked(const std::string& text) const {
  std::string masked = HideUrlCredentials(text);
  for (const std::string& secret : secrets_) {
    for (size_t at = masked.find(secret); at != std::string::npos; at = masked.find(secret, at + 3))
      masked.replace(at, secret.size(), "***");
  }
  return masked;
}

void RunEvents::Write(Line& line) {
  if (ended_ || (!file_ && descriptor_ < 0)) return;
  const uint32_t elapsedMs = HostClock().TickMs() - startTick_;
  Json object;
  object["v"] = kRunEventsVersion;
  object["event"] = line.json["event"];
  object["t"] = static_cast<double>(elapsedMs) / 1000.0;
  object["time"] = IsoUtcTime(CurrentUtcTime());
  for (auto item = line.json.begin(); item != line.json.end(); ++item) {
    if (item.key() != "event") object[item.key()] = item.value();
  }
  // A board's bytes are not always UTF-8 (a damaged serial number): they become U+FFFD.
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  std::string words;
  bool written = false;
  if (file_) {
    written = std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0;
    if (!written) words = SystemErrorText(errno);
  } else {
    written = WriteToInheritedDescriptor(descriptor_, text, &words);
  }
  if (written) {
    failed_ = false;
  } else if (!failed_) {
    failed_ = true;
    std::cout << "\nError: cannot write the run's events to " << where_ << " (" << words << "); the run goes on."
              << std::endl;
  }
}

void RunEvents::RunStart(const RunStartFacts& facts) {
  Lock lock(mutex_);
  Line line("run-start");
  line.json["port"] = facts.port ? Json(Masked(*facts.port)) : Json(nullptr);
  line.json["images"] = Json::array();
  for (const RunImage& image : facts.images) {
    line.json["images"].push_back({{"name", image.name},
                                   {"file", image.file},
                                   {"size", image.size ? Json(*image.size) : Json(nullptr)},
                                   {"crc32", image.crc32 ? Json(Hex8(*image.crc32)) : Json(nullptr)}});
  }
  line.json["identity"] = {{"given", PairOrNull(facts.given)}, {"fallback", PairOrNull(facts.fallback)}};
  line.json["typing"] = facts.typing;
  line.json["unattended"] = facts.unattended;
  line.json["retries"] = facts.retries;
  line.json["steps"] = Json::array();
  for (int step : facts.steps) line.json["steps"].push_back({{"step", step}, {"name", StepName(step)}});
  Write(line);
}

void RunEvents::Identity(const OptionMap& read, const OptionMap& toProgram, const std::string& source) {
  Lock lock(mutex_);
  Line line("identity");
  line.json["read"] = PairOrNull(read);
  if (line.json["read"].is_null()) {
    line.json["lacked"] = Json::array();
    if (!read.count("ethaddr")) line.json["lacked"].push_back("mac");
    if (!read.count("serialno")) line.json["lacked"].push_back("serial");
  }
  line.json["toProgram"] = PairOrNull(toProgram);
  line.json["source"] = source;
  Write(line);
}

void RunEvents::StepBegin(int step, const std::string& name, int attempt) {
  Lock lock(mutex_);
  step_ = step;
  lastProgressTick_.reset();
  Line line("step-begin");
  line.json["step"] = step;
  line.json["name"] = name;
  line.json["attempt"] = attempt;
  Write(line);
}

void RunEvents::StepEnd(int step, const std::string& name, int attempt, const char* result, double seconds,
                        const std::string& words) {
  Lock lock(mutex_);
  Line line("step-end");
  line.json["step"] = step;
  line.json["name"] = name;
  line.json["attempt"] = attempt;
  line.json["result"] = result;
  line.json["seconds"] = seconds;
  line.json["words"] = Masked(words);
  Write(line);
}

void RunEvents::Progress(uint64_t bytes, uint64_t total) {
  Lock lock(mutex_);
  const uint32_t now = HostClock().TickMs();
  const bool nextTransfer = !lastProgressTick_ || bytes < lastBytes_ || total != lastTotal_;
  const bool whole = bytes >= total;
  const bool due = nextTransfer || now - *lastProgressTick_ >= kProgressIntervalMs;
  // The last report of a transfer always goes out; a repeated one at its end does not.
  if (!due && !whole) return;
  if (!nextTransfer && whole && lastBytes_ >= total) return;
  lastBytes_ = bytes;
  lastTotal_ = total;
  lastProgressTick_ = now;
  Line line("progress");
  line.json["step"] = step_;
  line.json["bytes"] = bytes;
  line.json["total"] = total;
  Write(line);
}

void RunEvents::Retry(int step, int attempt, std::optional<int> of) {
  Lock lock(mutex_);
  Line line("retry");
  line.json["step"] = step;
  line.json["attempt"] = attempt;
  line.json["of"] = of ? Json(*of) : Json(nullptr);
  Write(line);
}

void RunEvents::IdentityWritten() {
  Lock lock(mutex_);
  Line line("identity-written");
  Write(line);
}

void RunEvents::RunEnd(const std::string& result, int status, std::optional<int> step) {
  Lock lock(mutex_);
  Line line("run-end");
  line.json["result"] = result;
  line.json["status"] = status;
  line.json["step"] = step ? Json(*step) : Json(nullptr);
  Write(line);
  ended_ = true;
}
