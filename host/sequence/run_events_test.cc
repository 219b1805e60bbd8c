#include "host/sequence/run_events.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "host/testing/virtual_clock.h"

namespace {

using Json = nlohmann::json;

class RunEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
    saved_ = std::cout.rdbuf(console_.rdbuf());
  }
  void TearDown() override {
    std::cout.rdbuf(saved_);
    std::remove(path_.c_str());
  }

  // Every line of the file, each parsed; a line that is no JSON object fails the test.
  std::vector<Json> Lines() {
    std::ifstream in(path_, std::ios::binary);
    std::vector<Json> lines;
    std::string line;
    while (std::getline(in, line)) {
      lines.push_back(Json::parse(line));
      EXPECT_EQ(lines.back().at("v"), kRunEventsVersion);
    }
    return lines;
  }

  ScopedVirtualClock clock_;
  std::ostringstream console_;
  std::streambuf* saved_ = nullptr;
  std::string path_;
};

TEST_F(RunEventsTest, ATransferIsToldAtMostFourTimesASecondAndAlwaysWhole) {
  RunEvents events;
  std::string line;
  ASSERT_TRUE(events.Open(path_, &line)) << line;
  events.StepBegin(5, "UploadKernel", 1);
  // 1024 bytes every 10 ms for 3 s: 300 reports, the last one whole.
  const uint64_t total = 300 * 1024;
  for (uint64_t block = 1; block <= 300; ++block) {
    clock_.clock().Advance(10);
    events.Progress(block * 1024, total);
  }
  events.Progress(total, total);  // told twice at its end, as a last bar redraw would
  // The next transfer (a retry) starts over and is told at once.
  clock_.clock().Advance(10);
  events.Progress(1024, total);

  std::vector<Json> progress;
  for (const Json& event : Lines()) {
    if (event["event"] == "progress") progress.push_back(event);
  }
  ASSERT_GE(progress.size(), 3u);
  // At most four a second over three seconds, plus the first of the transfer and its end.
  EXPECT_LE(progress.size(), 3u * 4u + 3u);
  EXPECT_GE(progress.size(), 3u * 4u - 1u);
  for (size_t i = 1; i + 1 < progress.size(); ++i) {
    EXPECT_EQ(progress[i]["step"], 5);
    EXPECT_EQ(progress[i]["total"], total);
    const double gap = progress[i]["t"].get<double>() - progress[i - 1]["t"].get<double>();
    if (progress[i]["bytes"] != total) {
      EXPECT_GE(gap, 0.25 - 1e-9) << progress[i];
    }
  }
  ASSERT_EQ(progress[progress.size() - 2]["bytes"], total);  // whole once, not twice
  EXPECT_NE(progress[progress.size() - 3]["bytes"], total);
  EXPECT_EQ(progress.back()["bytes"], 1024);
}

TEST_F(RunEventsTest, FailureWordsHideSecretsAndNothingFollowsTheEnd) {
  RunEvents events;
  std::string line;
  ASSERT_TRUE(events.Open(path_, &line)) << line;
  events.AddSecret("s3cr/et");
  clock_.clock().Advance(1234);
  events.StepEnd(8, "UpdateKernelPackages", 2, "failed", 1.5,
                 "Target: export http_proxy=http://user:pw@proxy:3128 / Password: s3cr/et s3cr/et");
  events.RunEnd("failed", 1, 8);
  events.StepBegin(0, "DetectTarget", 1);  // after the end: not written
  const std::vector<Json> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["t"], 1.234);
  const std::string words = lines[0]["words"];
  EXPECT_EQ(words.find("s3cr"), std::string::npos) << words;
  EXPECT_EQ(words.find("user:pw"), std::string::npos) << words;
  EXPECT_NE(words.find("Password: *** ***"), std::string::npos) << words;
  EXPECT_EQ(lines[1]["event"], "run-end");
  EXPECT_EQ(lines[1]["status"], 1);
  EXPECT_EQ(lines[1]["step"], 8);
  EXPECT_EQ(lines[0]["time"].get<std::string>().back(), 'Z');
}

TEST_F(RunEventsTest, APlaceThatCannotBeWrittenIsToldAndNeverStopsTheRun) {
  {
    RunEvents events;
    std::string line;
    EXPECT_FALSE(events.Open(::testing::TempDir() + "no-such-folder/events.jsonl", &line));
    EXPECT_NE(line.find("Error: cannot write the run's events to "), std::string::npos) << line;
    EXPECT_FALSE(events.Open("fd:", &line));
    EXPECT_FALSE(events.Open("fd:999999", &line));  // no such descriptor
    EXPECT_NE(line.find("fd:999999"), std::string::npos) << line;
  }
  // A reader that went away: every write fails, the first one is told, the run goes on.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  RunEvents events;
  std::string line;
  ASSERT_TRUE(events.Open("fd:" + std::to_string(ends[1]), &line)) << line;
  for (int step = 0; step < 5; ++step) events.StepBegin(step, "step", 1);
  events.RunEnd("succeeded", 0, 4);
  close(ends[1]);
  const std::string told = console_.str();
  const size_t first = told.find("Error: cannot write the run's events to fd:");
  EXPECT_NE(first, std::string::npos) << told;
  EXPECT_EQ(told.find("Error:", first + 1), std::string::npos) << told;
}

}  // namespace
