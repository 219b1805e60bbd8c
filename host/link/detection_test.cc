#include "host/link/detection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "host/platform/port_list.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"

namespace {

// The listing that the tests put in place of the registry.
PortMap listedPorts;
PortMap ListedPorts() { return listedPorts; }

class DetectionTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPortLister(&ListedPorts); }
  void TearDown() override {
    SetPortLister(nullptr);
    listedPorts.clear();
  }
  std::string Detect() {
    testing::internal::CaptureStdout();
    const std::string result = DetectTarget();
    console_ = testing::internal::GetCapturedStdout();
    return result;
  }
  uint64_t Now() { return clock_.clock().NowMs(); }

  ScopedVirtualClock clock_;
  ScriptedPorts ports_{clock_.clock()};
  std::string console_;
};

// A board that answers on its console some time after the given break.
void AnswerAfterBreak(ScriptedPort& port, size_t breakNumber, const std::string& text) {
  port.onBreak = [breakNumber, text](ScriptedPort& self) {
    if (self.breaks.size() == breakNumber) self.SendAfter(100, text);
  };
}

TEST_F(DetectionTest, NoPortsGiveAnEmptyResultAtOnce) {
  EXPECT_EQ(Detect(), "");
  EXPECT_EQ(console_, "");
  EXPECT_EQ(Now(), 1000u);
}

TEST_F(DetectionTest, PortsAreTriedInNumberOrderUntilOneAnswers) {
  listedPorts = {{10, "SCRIPT10"}, {3, "SCRIPT3"}, {1, "SCRIPT1"}, {4, "SCRIPT4"}};
  ScriptedPort& com1 = ports_.Add("SCRIPT1");
  ScriptedPort& com3 = ports_.Add("SCRIPT3");
  ScriptedPort& com4 = ports_.Add("SCRIPT4");
  ScriptedPort& com10 = ports_.Add("SCRIPT10");
  AnswerAfterBreak(com4, 1, std::string(" BOOTME\0", 8));
  AnswerAfterBreak(com10, 1, std::string(" BOOTME\0", 8));

  const uint64_t start = Now();
  EXPECT_EQ(Detect(), "SCRIPT4");
  EXPECT_EQ(console_, "Target:  BOOTME\n\n\nTarget: Detected at SCRIPT4\n\n");
  // The silent ports: opened, probed twice, closed.
  for (ScriptedPort* silent : {&com1, &com3}) {
    EXPECT_EQ(silent->opens, 1);
    ASSERT_EQ(silent->breaks.size(), 2u);
    EXPECT_EQ(silent->breaks[0].offMs - silent->breaks[0].onMs, 500u);
    EXPECT_FALSE(silent->lineOpen);
    EXPECT_EQ(silent->purges, (std::vector<unsigned>{0x0F, 0x0A, 0x0A}));
  }
  EXPECT_LT(com1.breaks[1].offMs, com3.breaks[0].onMs);
  EXPECT_LT(com3.breaks[1].offMs, com4.breaks[0].onMs);
  // Each silent port costs two breaks, two pauses and two one-second waits.
  EXPECT_EQ(com3.breaks[0].onMs - com1.breaks[0].onMs, 4002u);
  // The port that answered the first probe gets no second one; the port after it is not touched.
  EXPECT_EQ(com4.breaks.size(), 1u);
  EXPECT_FALSE(com4.lineOpen);
  EXPECT_EQ(com10.opens, 0);
  EXPECT_EQ(Now() - start, 2 * 4002u + 500 + 500 + 0);
}

TEST_F(DetectionTest, BoardWithABootLoaderAnswersTheSecondBreak) {
  listedPorts = {{1, "SCRIPT1"}};
  ScriptedPort& com1 = ports_.Add("SCRIPT1");
  AnswerAfterBreak(com1, 2, "\r\nUBL Version: 1.50\r\n");
  EXPECT_EQ(Detect(), "SCRIPT1");
  EXPECT_EQ(com1.breaks.size(), 2u);
  EXPECT_EQ(console_, "Target: \r\nTarget: UBL Version: 1.50\r\n\nTarget: Detected at SCRIPT1\n\n");
}

TEST_F(DetectionTest, PortHeldByAnotherProgramIsSkippedAfterItsMessage) {
  listedPorts = {{1, "SCRIPT1"}, {3, "SCRIPT3"}, {7, "SCRIPT7"}};
  ports_.Add("SCRIPT1").openError = EBUSY;
  ScriptedPort& com3 = ports_.Add("SCRIPT3");
  AnswerAfterBreak(com3, 1, std::string(" BOOTME\0", 8));
  EXPECT_EQ(Detect(), "SCRIPT3");
  const std::string held =
      "Could not open SCRIPT1 port: error(16)\nDevice or resource busy. Another program holds the port "
      "(a terminal program, another BrenloFix): close it, or choose another port.\n";
  EXPECT_EQ(console_, held + "Target:  BOOTME\n\n\nTarget: Detected at SCRIPT3\n\n");

  // Nobody answers: empty result after every port was tried; SCRIPT7 does not exist.
  com3.onBreak = nullptr;
  EXPECT_EQ(Detect(), "");
  EXPECT_EQ(console_, held +
                          "Could not open SCRIPT7 port: error(2)\nNo such file or directory. This PC has no "
                          "port SCRIPT7; its serial ports: SCRIPT1, SCRIPT3, SCRIPT7.\n");
  EXPECT_FALSE(com3.lineOpen);
}

// Another run holds its port, here closed between two of its steps: the search never opens it (its
// break would restart that board) and goes on; the port it finds stays claimed for the caller.
TEST_F(DetectionTest, APortAnotherRunHoldsIsPassedOverAndTheFoundOneStaysClaimed) {
  const std::string held = "rfc2217://127.0.0.1:1/held-by-another-run";
  std::unique_ptr<PortClaim> otherRun;
  ASSERT_TRUE(ClaimPort(held, &otherRun));
  listedPorts = {{1, held}, {3, "SCRIPT3"}};
  AnswerAfterBreak(ports_.Add("SCRIPT3"), 1, std::string(" BOOTME\0", 8));
  testing::internal::CaptureStdout();
  std::unique_ptr<PortClaim> claim;
  EXPECT_EQ(DetectTarget(&claim), "SCRIPT3");
  console_ = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console_.find("Port " + held + " is in use by another BrenloFix run; passed over.\n"), 0u)
      << console_;
  EXPECT_EQ(console_.find("Could not open"), std::string::npos);
  EXPECT_NE(claim, nullptr);

  otherRun.reset();  // the other run ended: its port is tried, and it does not open
  listedPorts = {{1, held}};
  EXPECT_EQ(Detect(), "");
  EXPECT_NE(console_.find("Could not open " + held + " port"), std::string::npos);
}

}  // namespace
