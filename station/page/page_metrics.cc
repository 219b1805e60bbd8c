#include "station/page/page_metrics.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

// The upper bounds of the step time histogram's buckets, in seconds.
const double kBuckets[] = {0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300, 600};

// A label's value: backslash, double quote and line end escaped.
std::string Label(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void Family(std::ostringstream& out, const char* name, const char* type, const char* help) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
}

}  // namespace

std::string MetricsText(const PageLedger::Counts* counts, int64_t boardsRunning, uint64_t ledgerErrors) {
  std::ostringstream out;
  Family(out, "brenlofix_boards_running", "gauge", "Boards on the station's ports with a run going.");
  out << "brenlofix_boards_running " << boardsRunning << "\n";
  Family(out, "brenlofix_ledger_errors_total", "counter",
         "Ledger reads of the page that failed since the station started.");
  out << "brenlofix_ledger_errors_total " << ledgerErrors << "\n";
  if (!counts) return out.str();

  Family(out, "brenlofix_runs_total", "counter", "Runs in the ledger by result and failing step.");
  for (const auto& [key, runs] : counts->runs) {
    out << "brenlofix_runs_total{result=\"" << Label(key.first) << "\",failed_step=\"" << Label(key.second)
        << "\"} " << runs << "\n";
  }
  Family(out, "brenlofix_pool_free_values", "gauge", "Values of each pool not handed out yet.");
  for (const auto& [pool, kind, free] : counts->freeValues) {
    out << "brenlofix_pool_free_values{pool=\"" << Label(pool) << "\",kind=\"" << Label(kind) << "\"} " << free
        << "\n";
  }
  Family(out, "brenlofix_step_seconds", "histogram", "Time of each step that succeeded, from the runs' records.");
  for (const auto& [key, values] : counts->steps) {
    const std::string labels = "step=\"" + Label(key.second) + "\",number=\"" + std::to_string(key.first) + "\"";
    double sum = 0;
    for (double value : values) sum += value;
    for (double bound : kBuckets) {
      const auto within = std::count_if(values.begin(), values.end(), [&](double value) { return value <= bound; });
      out << "brenlofix_step_seconds_bucket{" << labels << ",le=\"" << Number(bound) << "\"} " << within << "\n";
    }
    out << "brenlofix_step_seconds_bucket{" << labels << ",le=\"+Inf\"} " << values.size() << "\n";
    out << "brenlofix_step_seconds_sum{" << labels << "} " << Number(sum) << "\n";
    out << "brenlofix_step_seconds_count{" << labels << "} " << values.size() << "\n";
  }
  return out.str();
}
