#include "station/board_view.h"

#include <ctime>

namespace {

using Json = nlohmann::json;

std::string UtcText(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Json IdentityJson(const std::optional<Identity>& identity) {
  if (!identity) return nullptr;
  return Json{{"mac", identity->mac}, {"serial", identity->serial}};
}

std::string StateWord(const StationRun& run, bool waiting) {
  if (waiting && run.phase != StationRun::Phase::kDone) return "running";
  if (run.phase != StationRun::Phase::kDone && !run.status) return "running";
  if (run.refused) return "failed";
  if (run.stopped == "timed out") return "timed out";
  if (!run.stopped.empty()) return "interrupted";
  if (run.progress.result == "interrupted") return "stopped";
  return run.status && *run.status == 0 ? "succeeded" : "failed";
}

}  // namespace

Json BoardObject(const std::string& port, const StationRun* run, bool waiting) {
  if (!run) {
    return Json{{"port", port}, {"state", "waiting"}, {"step", nullptr}, {"steps", nullptr}, {"stepName", nullptr},
                {"attempt", nullptr}, {"retries", 0}, {"bytes", nullptr}, {"total", nullptr},
                {"identity", {{"read", nullptr}, {"programmed", nullptr}, {"source", nullptr}}},
                {"started", nullptr}, {"elapsedSeconds", 0}, {"leftSeconds", nullptr}, {"words", ""},
                {"run", nullptr}, {"record", nullptr}, {"stepsDone", Json::array()}};
  }
  const RunProgress& p = run->progress;
  Json done = Json::array();
  for (const StepDone& step : p.stepsDone) {
    done.push_back({{"step", step.step}, {"name", step.name}, {"seconds", step.seconds}, {"result", step.result}});
  }
  // Where the identity to program came from, in the page's words: the ledger's pair is "pool".
  Json source = p.source.empty() ? Json(nullptr) : Json(p.source == "fallback" ? "pool" : p.source);
  const auto end = run->ended.value_or(std::chrono::system_clock::now());
  const double elapsed = std::chrono::duration<double>(end - run->started).count();
  std::string words = p.words;
  if (run->refused) words = *run->refused;
  const std::string record = run->record.substr(run->record.rfind('/') + 1);
  Json board{{"port", port},
             {"state", StateWord(*run, waiting)},
             {"step", p.step ? Json(*p.step) : Json(nullptr)},
             {"steps", p.steps ? Json(p.steps) : Json(nullptr)},
             {"stepName", p.step ? Json(p.stepName) : Json(nullptr)},
             {"attempt", p.attempt ? Json(p.attempt) : Json(nullptr)},
             {"retries", p.retries},
             {"bytes", p.bytes ? Json(*p.bytes) : Json(nullptr)},
             {"total", p.total ? Json(*p.total) : Json(nullptr)},
             {"identity", {{"read", IdentityJson(p.read)}, {"programmed", IdentityJson(p.toProgram)}, {"source", source}}},
             {"started", UtcText(run->started)},
             {"elapsedSeconds", static_cast<long long>(elapsed)},
             {"leftSeconds", nullptr},
             {"words", words},
             {"run", run->ledgerRun ? Json(*run->ledgerRun) : Json(nullptr)},
             {"record", run->refused ? Json(nullptr) : Json(record)},
             {"stepsDone", done}};
  return board;
}

BoardViews::BoardViews(const std::vector<std::string>& ports)
    : ports_(ports), boards_(ports.size()), consoles_(ports.size()), noticed_(ports.size()) {
  for (size_t i = 0; i < ports.size(); ++i) boards_[i] = BoardObject(ports[i], nullptr, true);
}

void BoardViews::Set(const std::string& port, Json board, const std::string& console) {
  bool changed = false, grown = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t i = 0;
    while (i < ports_.size() && ports_[i] != port) ++i;
    if (i == ports_.size()) return;
    changed = boards_[i] != board;
    // A running board's console is told of at most every 200 ms: its output comes in many pieces.
    const auto now = std::chrono::steady_clock::now();
    grown = changed || consoles_[i] != console ||
            (board.value("state", Json()) == "running" && now - noticed_[i] >= std::chrono::milliseconds(200));
    if (grown) noticed_[i] = now;
    consoles_[i] = console;
    if (changed) boards_[i] = board;
  }
  if (changed && changed_) changed_(board);
  if (grown && grown_) grown_(port);
}

Json BoardViews::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Json(boards_);
}

std::string BoardViews::Console(const std::string& port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < ports_.size(); ++i) {
    if (ports_[i] == port) return consoles_[i];
  }
  return "";
}
