#include "station/ledger_client.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// The answer to call id, waited for as the station's loop waits: polling the answer descriptor.
LedgerClient::Answer AwaitAnswer(LedgerClient& client, uint64_t id, std::chrono::milliseconds* took) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    for (auto& answer : client.TakeAnswers(std::chrono::steady_clock::now())) {
      if (answer.id == id) {
        *took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return answer;
      }
    }
    pollfd polled{client.AnswerFd(), POLLIN, 0};
    poll(&polled, 1, 20);
  }
}

class LedgerClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/station-ledger-client-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    folder_ = folder;
    const auto url = ParseLedgerUrl("sqlite:" + folder_ + "/ledger.sqlite");
    ASSERT_TRUE(url);
    url_ = *url;
    std::ostringstream out, err;
    auto database = OpenDatabase(url_, true, DatabaseLimits{}, err);
    ASSERT_TRUE(database) << err.str();
    ASSERT_TRUE(Ledger(*database, url_.shown, out, err).Init()) << err.str();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string folder_;
  LedgerUrl url_;
};

// A call that hangs (a database that stopped answering) is given up at its deadline, and so is the
// call queued behind it; the loop never waits longer. Once the worker is back, calls are answered
// again, and the ledger's own words come with an answer.
TEST_F(LedgerClientTest, AHungCallIsGivenUpAtItsDeadlineAndTheNextOnesGoOn) {
  LedgerClient client(url_);
  std::chrono::milliseconds took{};
  ASSERT_TRUE(AwaitAnswer(client, client.Open(5s), &took).ok);

  std::atomic<bool> release{false};
  const auto hung = client.Call(
      [&release](Ledger&, Database&, std::ostream&) {
        while (!release) std::this_thread::sleep_for(5ms);
        return true;
      },
      200ms);
  const auto behind = client.Call([](Ledger& ledger, Database&, std::ostream&) { return ledger.Status(); }, 400ms);
  LedgerClient::Answer answer = AwaitAnswer(client, hung, &took);
  EXPECT_TRUE(answer.timedOut);
  EXPECT_GE(took, 150ms);
  EXPECT_LT(took, 1500ms);
  EXPECT_TRUE(client.Stranded());
  answer = AwaitAnswer(client, behind, &took);
  EXPECT_TRUE(answer.timedOut) << "never run: the worker was held up";

  // Shutting down: a call's deadline is cut to the stop's.
  const auto late = client.Call([](Ledger&, Database&, std::ostream&) { return true; }, 60s);
  client.Hurry(100ms);
  answer = AwaitAnswer(client, late, &took);
  EXPECT_TRUE(answer.timedOut);
  EXPECT_LT(took, 1500ms);

  release = true;
  for (int i = 0; i < 200 && client.Stranded(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(client.Stranded());
  const auto settled = client.Call(
      [](Ledger& ledger, Database&, std::ostream&) {
        RunOpening opening{"line-1", std::string("COM3"), std::nullopt};
        return ledger.OpenRun(opening).has_value() && ledger.Settle(1, "/nonexistent/record.json");
      },
      5s);
  answer = AwaitAnswer(client, settled, &took);
  EXPECT_FALSE(answer.timedOut);
  ASSERT_FALSE(answer.lines.empty());
  EXPECT_EQ(answer.lines.front(), "1");  // OpenRun's run number, then Settle's words
}

}  // namespace
