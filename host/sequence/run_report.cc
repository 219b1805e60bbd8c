#include "host/sequence/run_report.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "host/link/boot_loader_flashing.h"
#include "host/link/crc32.h"
#include "host/link/flasher_upload.h"
#include "host/link/kernel_upload.h"
#include "host/platform/clock.h"
#include "host/sequence/banner.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

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

}  // namespace

std::string IsoUtcTime(const UtcTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds);
  return text;
}

RunReport::RunReport(const UtcTime& started) : started_(started) {}

void RunReport::RecordImages() {
  Crc32 crc;
  Crc32Init(crc, kCrc32Polynomial, kCrc32InitialValue, kCrc32FinalXor);
  images_.clear();
  for (const char* name : {kFlasherImageFile, kUblImageFile, kUbootImageFile, kKernelImageName}) {
    Image image{name, std::nullopt, std::nullopt};
    std::ifstream in(name, std::ios::binary);
    if (in) {
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
      if (!in.bad()) {
        image.bytes = bytes.size();
        image.crc32 = Crc32Compute(crc, bytes.size(), bytes.data());
      }
    }
    images_.push_back(image);
  }
}

void RunReport::StepBegins(int step, const std::string& name) {
  const uint32_t now = HostClock().TickMs();
  for (Step& entry : steps_) {
    if (entry.step != step) continue;
    ++entry.attempts;
    entry.beganAt = now;
    return;
  }
  steps_.push_back(Step{step, name, false, 1, 0, now});
}

void RunReport::StepEnds(int step, bool succeeded) {
  for (Step& entry : steps_) {
    if (entry.step != step) continue;
    entry.succeeded = succeeded;
    entry.ms += HostClock().TickMs() - entry.beganAt;
    return;
  }
}

std::string RunReport::Json(int exitStatus, const UtcTime& finished) const {
  ::Json record;
  record["program"] = "BrenloFix";
  record["version"] = kBrenloFixVersion;
  record["port"] = TextOrNull(port_);
  record["started"] = IsoUtcTime(started_);
  record["finished"] = IsoUtcTime(finished);
  record["result"] = exitStatus == 0 ? "succeeded" : "failed";
  record["exitStatus"] = exitStatus;
  record["failedStep"] = TextOrNull(failedStep_);
  record["error"] = TextOrNull(error_);
  record["log"] = TextOrNull(log_);
  record["identity"] = {{"read", IdentityJson(read_)}, {"programmed", IdentityJson(programmed_)}};
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
                               {"result", step.succeeded ? "succeeded" : "failed"},
                               {"attempts", step.attempts},
                               {"seconds", static_cast<double>(step.ms) / 1000.0}});
  }
  // What a board sends is not always UTF-8 (a damaged serial number): such bytes become U+FFFD
  // instead of ending the run without a record.
  return record.dump(2, ' ', false, ::Json::error_handler_t::replace) + "\n";
}

bool RunReport::Write(const std::string& path, int exitStatus, const UtcTime& finished) const {
  const std::string text = Json(exitStatus, finished);
  const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
  std::error_code error;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) error = std::error_code(errno, std::generic_category());
  }
  if (!error) std::filesystem::rename(temporary, path, error);
  if (!error) return true;
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
  std::cout << "Error: cannot write the run's record to " << path << " (" << error.message() << ")."
            << std::endl;
  return false;
}
