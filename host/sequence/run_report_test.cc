// The record of a run that an interruption ends while the run's thread goes on: the step under way
// is "running" until it ends, "interrupted" when the run is stopped in it, and nothing the run's
// thread does afterwards changes the record on disk.
#include "host/sequence/run_report.h"
#include "host/testing/temp_path.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace {

using Json = nlohmann::json;

constexpr UtcTime kStarted{2026, 3, 9, 14, 5, 7, 45};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RunReportTest, AStepUnderWayIsRunningAndAnInterruptionIsTheRecordsLastWord) {
  const std::string path = UniqueTempPath("run_report_test.json");
  RunReport report(kStarted);
  report.SetPath(path);
  ASSERT_TRUE(report.Save());
  report.StepBegins(3, "FlashBootLoaders");
  report.StepEnds(3, false);
  report.StepBegins(3, "FlashBootLoaders");  // the retry
  report.StepEnds(3, true);
  report.StepBegins(4, "ProgramEnvironment");
  report.SetIdentityWritten();  // written while step 4 runs
  Json record = Json::parse(ReadFile(path));
  EXPECT_EQ(record["steps"][0]["result"], "succeeded");
  EXPECT_EQ(record["steps"][0]["attempts"], 2);
  EXPECT_EQ(record["steps"][1]["result"], "running");
  EXPECT_EQ(record["result"], "running");

  std::string line;
  EXPECT_EQ(report.Interrupt("SIGTERM", &line), 1);
  EXPECT_EQ(line, "Error: the run was interrupted (SIGTERM) in step 4 (ProgramEnvironment).");
  const std::string ended = ReadFile(path);
  record = Json::parse(ended);
  EXPECT_EQ(record["result"], "interrupted");
  EXPECT_EQ(record["failedStep"], "ProgramEnvironment");
  EXPECT_EQ(record["steps"][1]["result"], "interrupted");

  // The run's thread, not yet stopped, ends its step and goes on: the record stays as it is.
  report.StepEnds(4, true);
  report.StepBegins(5, "UploadKernel");
  report.SetFailedStep("UploadKernel");
  report.SetError("later words");
  EXPECT_TRUE(report.Save());
  EXPECT_TRUE(report.End(RunReport::Result::kSucceeded, 0));
  EXPECT_EQ(ReadFile(path), ended);
  EXPECT_EQ(report.Json(), ended);
  EXPECT_EQ(report.Interrupt("SIGINT", &line), 1);
  EXPECT_TRUE(line.empty());
  std::remove(path.c_str());
}

}  // namespace
