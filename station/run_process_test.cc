#include "station/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Follows the run as the station's loop does until it has ended.
void FollowToEnd(RunProcess& run, RunProgress* progress, std::string* trouble) {
  for (int rounds = 0; rounds < 3000 && !run.Ended(); ++rounds) {
    std::vector<pollfd> polled;
    if (run.OutputFd() >= 0) polled.push_back({run.OutputFd(), POLLIN, 0});
    if (run.EventsFd() >= 0) polled.push_back({run.EventsFd(), POLLIN, 0});
    poll(polled.data(), polled.size(), 10);
    if (run.OutputFd() >= 0) run.ReadOutput(progress, trouble);
    if (run.EventsFd() >= 0) run.ReadEvents(progress);
    run.Reap();
  }
}

RunCommand Shell(const std::string& script, bool events) {
  RunCommand command;
  command.program = "/bin/sh";
  command.argv = {"-c", script};
  command.folder = "/";
  command.events = events;
  return command;
}

// A capture that cannot be written (a full disk) is told once, and the run's output is still read
// to its end: far more than a pipe holds, so the run ends only if the station reads it all.
TEST(RunProcess, AFullCaptureIsToldAndTheOutputStillReadToItsEnd) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  std::string error;
  auto run = RunProcess::Start(
      Shell("echo 'Step 2: UploadFlasher'; head -c 1000000 /dev/zero | tr '\\0' x; echo; "
            "echo 'Step 3: FlashBootLoaders'; exit 3",
            false),
      full, &error);
  ASSERT_TRUE(run) << error;
  RunProgress progress;
  std::string trouble;
  FollowToEnd(*run, &progress, &trouble);
  ASSERT_TRUE(run->Ended());
  EXPECT_EQ(run->Status(), 3);
  EXPECT_EQ(trouble, "No space left on device");
  EXPECT_EQ(progress.step, 3);
  EXPECT_EQ(progress.stepName, "FlashBootLoaders");
}

// Events come on descriptor 3, one JSON object a line, even split across writes; once one came the
// console's step lines no longer count. A run ends in its own session: the station's signal to it
// reaches its children too.
TEST(RunProcess, EventsOnItsOwnDescriptorAndASessionOfItsOwn) {
  char capturePath[] = "/tmp/station-capture-XXXXXX";
  const int capture = mkstemp(capturePath);
  ASSERT_GE(capture, 0);
  std::string error;
  auto run = RunProcess::Start(
      Shell("printf '{\"v\":1,\"event\":\"run-start\",\"steps\":[{\"step\":0},{\"step\":1},{\"step\":2}]}\\n' >&3; "
            "printf '{\"v\":1,\"event\":\"step-begin\",\"step\":2,\"name\":\"UploadFlasher\",' >&3; sleep 0.1; "
            "printf '\"attempt\":2}\\n{\"v\":1,\"event\":\"retry\",\"step\":2,\"attempt\":2,\"of\":3}\\n' >&3; "
            "printf '{\"v\":1,\"event\":\"progress\",\"step\":2,\"bytes\":512,\"total\":2048}\\n' >&3; "
            "echo 'Step 7: NotAnEvent'; sleep 30 & wait",
            true),
      capture, &error);
  ASSERT_TRUE(run) << error;
  RunProgress progress;
  std::string trouble;
  for (int rounds = 0; rounds < 500 && !progress.Percent(); ++rounds) {
    pollfd polled[] = {{run->OutputFd(), POLLIN, 0}, {run->EventsFd(), POLLIN, 0}};
    poll(polled, 2, 10);
    run->ReadEvents(&progress);
    run->ReadOutput(&progress, &trouble);
  }
  usleep(100000);
  run->ReadOutput(&progress, &trouble);
  EXPECT_EQ(progress.steps, 3);
  EXPECT_EQ(progress.step, 2);
  EXPECT_EQ(progress.stepName, "UploadFlasher");
  EXPECT_EQ(progress.attempt, 2);
  EXPECT_EQ(progress.retries, 1);
  EXPECT_EQ(progress.Percent(), 25);
  run->Signal(SIGTERM);
  FollowToEnd(*run, &progress, &trouble);
  ASSERT_TRUE(run->Ended()) << "the session's sleep kept the output open";
  EXPECT_EQ(run->Status(), -SIGTERM);
  EXPECT_EQ(trouble, "");
  unlink(capturePath);
}

}  // namespace
