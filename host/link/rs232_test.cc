#include "host/link/rs232.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/platform/port_list.h"
#include "host/testing/scripted_line.h"
#include "host/testing/virtual_clock.h"

namespace {

class RS232Test : public ::testing::Test {
 protected:
  ScopedVirtualClock clock_;
  ScriptedPorts ports_{clock_.clock()};
  ScriptedPort& port_ = ports_.Add("SCRIPT1");
  uint64_t Now() { return clock_.clock().NowMs(); }
};

TEST_F(RS232Test, OpenAppliesSettingsTimeoutsAndFullPurge) {
  RS232 port;
  EXPECT_FALSE(port.handle);
  EXPECT_EQ(port.isOpen, 0);
  EXPECT_EQ(port.pacedWrite, 0);
  EXPECT_STREQ(port.GetName(), "RS-232");  // also while closed

  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  EXPECT_EQ(port.isOpen, 1);
  EXPECT_STREQ(port.portName, "SCRIPT1");
  EXPECT_STREQ(port.openParams, kPortSettings);
  ASSERT_EQ(port_.settings.size(), 1u);
  EXPECT_EQ(port_.settings[0], "baud=115200 data=8 parity=n stop=1 xon=off");
  EXPECT_EQ(port_.readConstantMs, 1000u);
  EXPECT_EQ(port_.writeConstantMs, 100u);
  ASSERT_EQ(port_.purges.size(), 1u);
  EXPECT_EQ(port_.purges[0], 0x0Fu);

  // A second Open keeps the first port and looks at nothing.
  ports_.Add("SCRIPT2");
  EXPECT_EQ(port.Open("SCRIPT2", "nonsense"), 1);
  EXPECT_EQ(port_.opens, 1);
  EXPECT_EQ(ports_["SCRIPT2"].opens, 0);
  EXPECT_STREQ(port.portName, "SCRIPT1");

  port.Close();
  EXPECT_EQ(port.isOpen, 0);
  EXPECT_FALSE(port_.lineOpen);
  port.Close();  // safe on a closed object
}

TEST_F(RS232Test, OpenFailuresPrintTheirReasonAndLeaveTheObjectReusable) {
  RS232 port;
  SetPortLister([] { return PortMap{{1, "SCRIPT1"}}; });
  testing::internal::CaptureStdout();
  EXPECT_EQ(port.Open(nullptr, kPortSettings), 0);
  EXPECT_EQ(port.Open("SCRIPT1", nullptr), 0);
  EXPECT_EQ(port.Open("SCRIPT7", kPortSettings), 0);
  port_.openError = 16;
  EXPECT_EQ(port.Open("SCRIPT1", kPortSettings), 0);
  SetPortLister(nullptr);
  // The number stays as it was; the system's words and a hint follow it.
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Bad RS232 open parameters.\nBad RS232 open parameters.\n"
            "Could not open SCRIPT7 port: error(2)\n"
            "No such file or directory. This PC has no port SCRIPT7; its serial ports: SCRIPT1.\n"
            "Could not open SCRIPT1 port: error(16)\n"
            "Device or resource busy. Another program holds the port (a terminal program, another "
            "BrenloFix): close it, or choose another port.\n");
  EXPECT_EQ(port.isOpen, 0);
  EXPECT_EQ(port_.opens, 0);

  port_.openError = 0;
  EXPECT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
}

TEST_F(RS232Test, DestructionReleasesTheLine) {
  {
    RS232 port;
    ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
    EXPECT_TRUE(port_.lineOpen);
  }
  EXPECT_FALSE(port_.lineOpen);
}

TEST_F(RS232Test, LongPathIsCutInTheFieldAndReopenRefusesIt) {
  ports_.Add("SCRIPT1234567");
  RS232 port;
  ASSERT_EQ(port.Open("SCRIPT1234567", kPortSettings), 1);
  EXPECT_EQ(std::memcmp(port.portName, "SCRIPT1234", 10), 0);  // ten characters, no terminator
  testing::internal::CaptureStdout();
  EXPECT_EQ(port.Reopen(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Bad RS232 open parameters.\n");
  EXPECT_EQ(port.isOpen, 0);

  RS232 shortName;
  ASSERT_EQ(shortName.Open("SCRIPT1", kPortSettings), 1);
  EXPECT_EQ(shortName.Reopen(), 1);
  EXPECT_EQ(port_.opens, 2);
}

TEST_F(RS232Test, SilentReadSucceedsEmptyAfterItsTimeout) {
  RS232 port;
  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  uint8_t byte = 0x55;
  uint32_t count = 99;
  const uint64_t start = Now();
  EXPECT_EQ(port.Read(&byte, 1, &count, 0), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Now() - start, 1001u);  // 1 ms a byte plus the 1000 ms constant

  port_.SendAfter(300, "ab");
  uint8_t two[2] = {};
  EXPECT_EQ(port.Read(two, 2, &count, 0), 1);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(std::string(two, two + 2), "ab");
  EXPECT_EQ(Now() - start, 1301u);

  port_.FailReadsFrom(Now(), 5);
  EXPECT_EQ(port.Read(&byte, 1, &count, 0), 0);
}

TEST_F(RS232Test, ReadAndWriteRefuseEmptyArgumentsAndClosedPorts) {
  RS232 port;
  uint8_t byte = 'x';
  uint32_t count = 0;
  EXPECT_EQ(port.Read(&byte, 1, &count, 0), 0);
  EXPECT_EQ(port.Write(&byte, 1, &count, 0), 0);
  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  EXPECT_EQ(port.Read(nullptr, 1, &count, 0), 0);
  EXPECT_EQ(port.Read(&byte, 0, &count, 0), 0);
  EXPECT_EQ(port.Write(nullptr, 1, &count, 0), 0);
  EXPECT_EQ(port.Write(&byte, 0, &count, 0), 0);
  EXPECT_TRUE(port_.writes.empty());
  EXPECT_EQ(Now(), 1000u);
}

TEST_F(RS232Test, WholeAndPacedWrites) {
  RS232 port;
  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  uint32_t written = 0;
  EXPECT_EQ(port.Write("    ACK", 8, &written, 0), 1);
  EXPECT_EQ(written, 8u);
  ASSERT_EQ(port_.writes.size(), 1u);
  EXPECT_EQ(port_.writes[0].bytes, std::string("    ACK\0", 8));

  port.pacedWrite = 1;
  const uint64_t start = Now();
  EXPECT_EQ(port.Write("ok", 2, &written, 1), 1);
  EXPECT_EQ(written, 2u);
  ASSERT_EQ(port_.writes.size(), 3u);
  EXPECT_EQ(port_.writes[1].bytes, "o");
  EXPECT_EQ(port_.writes[2].bytes, "k");
  EXPECT_EQ(port_.writes[2].atMs - port_.writes[1].atMs, 10u);
  EXPECT_EQ(Now() - start, 20u);
  EXPECT_EQ(port.Write("x", 1, nullptr, 0), 1);  // the count is optional
}

TEST_F(RS232Test, BreakHoldsHalfASecondAndOnlyOnAnOpenPort) {
  RS232 port;
  EXPECT_EQ(port.SendBreak(), 0);
  EXPECT_EQ(port.PurgeInput(), 0);
  EXPECT_EQ(Now(), 1000u);  // no pause on a closed port
  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  EXPECT_EQ(port.SendBreak(), 1);
  ASSERT_EQ(port_.breaks.size(), 1u);
  EXPECT_EQ(port_.breaks[0].offMs - port_.breaks[0].onMs, 500u);
}

TEST_F(RS232Test, PurgeInputDropsWhatHasArrivedOnly) {
  RS232 port;
  ASSERT_EQ(port.Open("SCRIPT1", kPortSettings), 1);
  port_.SendAfter(0, "stale");
  port_.SendAfter(100, "fresh");
  EXPECT_EQ(port.PurgeInput(), 1);
  EXPECT_EQ(port_.purges.back(), 0x0Au);
  char buffer[8] = {};
  uint32_t count = 0;
  EXPECT_EQ(port.Read(buffer, 5, &count, 0), 1);
  EXPECT_EQ(std::string(buffer, count), "fresh");
}

TEST_F(RS232Test, IsHaveDataIsNotImplemented) {
  RS232 port;
  testing::internal::CaptureStdout();
  EXPECT_EQ(port.IsHaveData(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "RS232::IsHaveData() not implemented.\n");
}

}  // namespace
