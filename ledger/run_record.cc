#include "ledger/run_record.h"

#include <nlohmann/json.hpp>

#include "ledger/identity_values.h"

namespace {

using Json = nlohmann::json;

std::optional<std::string> Text(const Json& object, const char* key) {
  if (!object.is_object()) return std::nullopt;
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// identity.read or identity.programmed: serialno and ethaddr, each possibly missing.
void ReadIdentity(const Json& identity, const char* which, std::optional<std::string>* mac,
                  std::optional<std::string>* serial) {
  if (!identity.is_object() || !identity.contains(which)) return;
  const Json& values = identity[which];
  *mac = Text(values, "ethaddr");
  if (*mac) *mac = NormalizedIdentityValue(**mac);
  *serial = Text(values, "serialno");
}

const std::optional<std::string>& Programmed(const RunRecord& record, const std::string& key) {
  return key == "ethaddr" ? record.programmedMac : record.programmedSerial;
}

}  // namespace

bool RunRecord::Final() const {
  return result == "succeeded" || result == "failed" || result == "rejected" || result == "interrupted";
}

std::optional<std::string> RunRecord::Assigned(const std::string& key) const {
  const auto& programmed = Programmed(*this, key);
  if (!Wrote() || !programmed || programmed == Read(key)) return std::nullopt;
  return programmed;
}

std::optional<std::string> RunRecord::OnBoard(const std::string& key) const {
  return Wrote() && Programmed(*this, key) ? Programmed(*this, key) : Read(key);
}

bool RunRecord::Wrote() const { return written ? *written : environmentSaved; }

const std::optional<std::string>& RunRecord::Read(const std::string& key) const {
  return key == "ethaddr" ? readMac : readSerial;
}

RunRecord ParseRunRecord(const std::string& text) {
  RunRecord record;
  const Json json = Json::parse(text, nullptr, false);
  if (!json.is_object()) return record;
  record.readable = true;
  record.result = Text(json, "result").value_or("");
  if (json.contains("exitStatus") && json["exitStatus"].is_number_integer()) {
    record.exitStatus = json["exitStatus"].get<int>();
  }
  record.port = Text(json, "port");
  record.started = Text(json, "started");
  record.finished = Text(json, "finished");
  record.failedStep = Text(json, "failedStep");
  record.log = Text(json, "log");
  if (json.contains("identity")) {
    const Json& identity = json["identity"];
    ReadIdentity(identity, "read", &record.readMac, &record.readSerial);
    ReadIdentity(identity, "programmed", &record.programmedMac, &record.programmedSerial);
    if (identity.is_object() && identity.contains("written") && identity["written"].is_boolean()) {
      record.written = identity["written"].get<bool>();
    }
  }
  if (json.contains("steps") && json["steps"].is_array()) {
    for (const Json& step : json["steps"]) {
      if (Text(step, "name") == "ProgramEnvironment" && Text(step, "result") == "succeeded") {
        record.environmentSaved = true;
      }
    }
  }
  if (json.contains("images") && json["images"].is_array()) {
    for (const Json& image : json["images"]) {
      if (!image.is_object()) continue;
      const auto bytes = image.find("bytes");
      record.images.push_back(Text(image, "name").value_or("?") + " " +
                              (bytes != image.end() && bytes->is_number() ? bytes->dump() : "missing") + " " +
                              Text(image, "crc32").value_or("-"));
    }
  }
  return record;
}

IdentityFate FateOfReserved(const RunRecord& record, const std::string& key, const std::string& reserved) {
  // A record that does not say whether the identity was written leaves the board to be looked at.
  if (!record.readable || !record.written) return IdentityFate::kToCheck;
  const auto& programmed = Programmed(record, key);
  if (*record.written) {
    if (!programmed) return IdentityFate::kToCheck;
    return NormalizedIdentityValue(*programmed) == NormalizedIdentityValue(reserved)
               ? IdentityFate::kBound
               : IdentityFate::kReturned;
  }
  // Not written yet: final only when the run has ended. A record left "running" by a run that was
  // killed may be older than a saveenv that did run.
  return record.Final() ? IdentityFate::kReturned : IdentityFate::kToCheck;
}
