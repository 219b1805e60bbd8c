// The package update at the shell the login leaves: the proxy, the two commands, the package
// manager's waits and faults, and a retry that types everything again.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/sequence/system_boot.h"
#include "host/testing/system_boot_support.h"

namespace {

using kernel_upload_test::RecordedPort;
using namespace system_boot_test;

constexpr char kProxy[] = "http://10.1.2.3:3128";

class PackageUpdateTest : public BoardConsoleTest {
 protected:
  // A board logged in at its shell, as step 7 leaves it; the console then holds the answers for
  // the login and the proxy, the login's line end still unread, as an operator types them.
  void LogIn(SimulatedTarget& target, const std::string& proxyAnswer) {
    FlashBoard(target.state());
    console_input_.reset();  // the old script uninstalls itself first
    console_input_.reset(new ScriptedConsole(std::string(kUser) + "\n" + kPassword + "\n" + proxyAnswer));
    ASSERT_EQ(WatchSystemBoot("SIM1"), 1) << Console();
    console_.str("");
  }

  // Runs the update through "REC1"; the virtual time it took.
  int Update(SimulatedTarget& target, RecordedPort& port, uint32_t* elapsedMs = nullptr) {
    const uint64_t start = target.NowMs();
    const int result = UpdateKernelPackages(port.name());
    if (elapsedMs) *elapsedMs = static_cast<uint32_t>(target.NowMs() - start);
    return result;
  }

  std::unique_ptr<ScriptedConsole> console_input_;
};

TEST_F(PackageUpdateTest, InstallsTheModulesThroughTheTypedProxy) {
  SimulatedTarget target(BoardWith());
  LogIn(target, std::string(kProxy) + "\n");
  RecordedPort port;
  ASSERT_EQ(Update(target, port), 1) << Console();

  // The export keeps the typed line end, so it ends in two line feeds; the install follows, and
  // "y" answers the question, only once it was asked.
  EXPECT_EQ(port.record.Written(),
            std::string("export http_proxy=") + kProxy + "\n\n" + kInstallCommand + "y\n");
  EXPECT_GT(port.record.TimeWritten("y\n"), port.record.TimeRead("Do you want to continue? [Y/n]"));
  EXPECT_EQ(target.state().resets, 1u) << "no break before the update";
  EXPECT_TRUE(HasEvent(target.state(), std::string("linux: apt-get install, http_proxy=") + kProxy));
  EXPECT_TRUE(HasEvent(target.state(), "linux: installed linux-kernel-modules"));

  // The line end left after the password was thrown away before the proxy was read.
  const std::vector<std::string>& asked = console_input_->Requests();
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked[asked.size() - 2], "discard");
  EXPECT_EQ(asked.back(), "line");
  EXPECT_EQ(console_input_->Remaining(), "");

  const std::string shown = Console();
  EXPECT_NE(shown.find("Enter proxy (http://ipaddr:port):"), std::string::npos);
  EXPECT_NE(shown.find("Target: Done.\r"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 32), "Update completed successfully.\n\n");

  // The package manager's lines are logged, the host's own copy of the proxy is not: the only
  // one there is the board's echo of the command.
  const std::string log = Log();
  EXPECT_NE(log.find("Reading Package Lists... Done\r\n"), std::string::npos);
  EXPECT_NE(log.find("Preparing..."), std::string::npos);
  const size_t echo = log.find(std::string("export http_proxy=") + kProxy);
  ASSERT_NE(echo, std::string::npos);
  EXPECT_EQ(log.find(kProxy, echo + 19), std::string::npos) << log.substr(echo);
}

TEST_F(PackageUpdateTest, AnEmptyProxyAnswerStillExportsTheVariable) {
  for (const std::string& answer : {std::string("\n"), std::string()}) {
    SCOPED_TRACE(answer.empty() ? "input ended" : "empty line");
    SimulatedTarget target(BoardWith());
    LogIn(target, answer);
    RecordedPort port;
    ASSERT_EQ(Update(target, port), 1) << Console();
    EXPECT_EQ(port.record.Written().substr(0, 18 + answer.size() + 1), "export http_proxy=" + answer + "\n");
    EXPECT_TRUE(HasEvent(target.state(), "linux: export http_proxy="));
    EXPECT_TRUE(HasEvent(target.state(), "linux: apt-get install, http_proxy="));
  }
}

TEST_F(PackageUpdateTest, AnUpToDatePackageFailsAtOnce) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.alreadyNewest = true; }));
  LogIn(target, std::string(kProxy) + "\n");
  RecordedPort port;
  ASSERT_EQ(Update(target, port), 0);
  const uint32_t seen = port.record.TimeRead("linux-kernel-modules is already the newest version.");
  ASSERT_NE(seen, 0u);
  EXPECT_LE(static_cast<uint32_t>(target.NowMs()) - seen, 100u);
  EXPECT_EQ(port.record.Written().find("y\n"), std::string::npos);
  EXPECT_EQ(Console().find("Update completed successfully."), std::string::npos);
}

TEST_F(PackageUpdateTest, NoExtraPackagesFailsAfterSixtySeconds) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.noExtraPackages = true; }));
  LogIn(target, std::string(kProxy) + "\n");
  RecordedPort port;
  ASSERT_EQ(Update(target, port), 0);
  const uint32_t waited =
      static_cast<uint32_t>(target.NowMs()) - port.record.TimeRead("Building Dependency Tree... Done\r\n");
  EXPECT_GE(waited, 60000u);
  EXPECT_LE(waited, 61000u);
  EXPECT_NE(port.record.TimeRead("Do you want to continue? [Y/n]"), 0u);
  EXPECT_EQ(port.record.Written().find("y\n"), std::string::npos) << "the question is not answered";
}

TEST_F(PackageUpdateTest, ADownloadFailureFailsAtItsLine) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.downloadFail = true; }));
  LogIn(target, std::string(kProxy) + "\n");
  RecordedPort port;
  ASSERT_EQ(Update(target, port), 0);
  const uint32_t failed = port.record.TimeRead("Failed to fetch");
  ASSERT_NE(failed, 0u);
  EXPECT_LE(static_cast<uint32_t>(target.NowMs()) - failed, 1100u);
  EXPECT_TRUE(HasEvent(target.state(), "linux: download failed"));
  EXPECT_EQ(Console().find("Update completed successfully."), std::string::npos);
}

// A retry asks for the proxy again and types both commands again at the same shell.
TEST_F(PackageUpdateTest, ARetryAsksForTheProxyAndTypesBothCommandsAgain) {
  SimulatedTarget target(BoardWith([](sim::Faults& f) { f.downloadFail = true; }));
  LogIn(target, "http://10.9.9.9:8080\n");
  RecordedPort port;
  ASSERT_EQ(Update(target, port), 0);
  target.state().faults.downloadFail = false;
  console_input_->Add(std::string(kProxy) + "\n");
  ASSERT_EQ(Update(target, port), 1) << Console();
  EXPECT_EQ(port.record.Written(), std::string("export http_proxy=http://10.9.9.9:8080\n\n") +
                                       kInstallCommand + "y\nexport http_proxy=" + kProxy + "\n\n" +
                                       kInstallCommand + "y\n");
  EXPECT_EQ(console_input_->CountRequests("line"), 2u);
  EXPECT_TRUE(HasEvent(target.state(), std::string("linux: apt-get install, http_proxy=") + kProxy));
  EXPECT_EQ(target.state().resets, 1u);
}

}  // namespace
