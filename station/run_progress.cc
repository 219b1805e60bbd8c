#include "station/run_progress.h"

#include <cctype>
#include <nlohmann/json.hpp>

namespace {

std::optional<Identity> IdentityOf(const nlohmann::json& value) {
  if (!value.is_object()) return std::nullopt;
  Identity identity;
  if (value.contains("mac") && value["mac"].is_string()) identity.mac = value["mac"].get<std::string>();
  if (value.contains("serial") && value["serial"].is_string()) identity.serial = value["serial"].get<std::string>();
  return identity;
}

template <typename T>
std::optional<T> Number(const nlohmann::json& event, const char* key) {
  if (!event.contains(key) || !event[key].is_number()) return std::nullopt;
  return event[key].get<T>();
}

std::string Text(const nlohmann::json& event, const char* key) {
  return event.contains(key) && event[key].is_string() ? event[key].get<std::string>() : std::string();
}

}  // namespace

bool RunProgress::TakeEvent(const std::string& line) {
  const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
  if (!event.is_object() || !event.contains("event") || !event["event"].is_string()) return false;
  if (Number<int>(event, "v").value_or(0) != 1) return false;
  eventsSeen = true;
  const std::string kind = event["event"].get<std::string>();
  if (kind == "run-start") {
    if (event.contains("steps") && event["steps"].is_array()) steps = static_cast<int>(event["steps"].size());
  } else if (kind == "step-begin") {
    step = Number<int>(event, "step");
    stepName = Text(event, "name");
    attempt = Number<int>(event, "attempt").value_or(1);
    bytes.reset();
    total.reset();
  } else if (kind == "step-end") {
    StepDone done{Number<int>(event, "step").value_or(0), Text(event, "name"),
                  Number<double>(event, "seconds").value_or(0), Text(event, "result")};
    if (done.result == "failed") words = Text(event, "words");
    stepsDone.push_back(done);
  } else if (kind == "progress") {
    bytes = Number<long long>(event, "bytes");
    total = Number<long long>(event, "total");
  } else if (kind == "retry") {
    ++retries;
  } else if (kind == "identity") {
    read = event.contains("read") ? IdentityOf(event["read"]) : std::nullopt;
    toProgram = event.contains("toProgram") ? IdentityOf(event["toProgram"]) : std::nullopt;
    source = Text(event, "source");
  } else if (kind == "identity-written") {
    identityWritten = true;
  } else if (kind == "run-end") {
    result = Text(event, "result");
  } else {
    return false;
  }
  return true;
}

void RunProgress::TakeConsoleLine(const std::string& line) {
  if (eventsSeen) return;
  // "Step 4: ProgramEnvironment"
  if (line.size() > 8 && line.compare(0, 5, "Step ") == 0 && std::isdigit(static_cast<unsigned char>(line[5])) &&
      line[6] == ':' && line[7] == ' ') {
    size_t end = 8;
    while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '_')) ++end;
    if (end > 8) {
      step = line[5] - '0';
      stepName = line.substr(8, end - 8);
      bytes.reset();
      total.reset();
      return;
    }
  }
  // A progress bar: "...\t 042% [====   ]"
  const size_t bar = line.find("% [");
  if (bar != std::string::npos && bar >= 3) {
    const std::string digits = line.substr(bar - 3, 3);
    if (std::isdigit(static_cast<unsigned char>(digits[0])) && std::isdigit(static_cast<unsigned char>(digits[1])) &&
        std::isdigit(static_cast<unsigned char>(digits[2]))) {
      bytes = std::stoll(digits);
      total = 100;
    }
  }
  if (line.find("Unattended run: retry ") != std::string::npos) ++retries;
}

std::optional<int> RunProgress::Percent() const {
  if (!bytes || !total || *total <= 0) return std::nullopt;
  return static_cast<int>(*bytes * 100 / *total);
}
