// The simulated target as the host's serial line sees it, on the virtual clock.
#include "host/testing/simulated_target.h"

#include <gtest/gtest.h>

#include <string>

#include "host/platform/serial_line.h"

namespace {

std::string ReadAll(SerialLine& line, size_t length) {
  std::string text(length, '\0');
  size_t count = 0;
  EXPECT_TRUE(line.Read(reinterpret_cast<uint8_t*>(&text[0]), length, &count));
  text.resize(count);
  return text;
}

void Write(SerialLine& line, const std::string& text) {
  size_t count = 0;
  ASSERT_TRUE(line.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &count));
  ASSERT_EQ(count, text.size());
}

TEST(SimulatedTarget, BreakPurgeAndReadOnTheVirtualClock) {
  sim::BoardOptions options;
  options.faults.noAnnounceRepeat = true;
  SimulatedTarget target(options);
  int error = 0;
  std::unique_ptr<SerialLine> line = OpenSerialLine(target.portName(), &error);
  ASSERT_TRUE(line);
  EXPECT_EQ(target.OpenCount(), 1);
  EXPECT_EQ(line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off"), LineSettingsResult::kApplied);
  EXPECT_EQ(line->ApplySettings("baud=fast"), LineSettingsResult::kBadParameters);
  ASSERT_TRUE(line->SetTimeouts(1000, 100));

  // The port is exclusive; other SIM ports open but nothing answers there.
  EXPECT_EQ(OpenSerialLine("SIM1", &error), nullptr);
  std::unique_ptr<SerialLine> empty = OpenSerialLine("SIM2", &error);
  ASSERT_TRUE(empty);
  EXPECT_EQ(OpenSerialLine("SIMX", &error), nullptr);

  // A break of 500 ms, a purge, then the boot ROM's single announcement is there to read.
  uint64_t start = target.NowMs();
  line->SetBreak(true);
  HostClock().SleepMs(500);
  line->SetBreak(false);
  line->Purge(kPurgeRxAbort | kPurgeRxClear);
  EXPECT_EQ(ReadAll(*line, 8), std::string(" BOOTME") + '\0');
  EXPECT_GE(target.NowMs(), start + 500);
  EXPECT_LE(target.NowMs(), start + 620);
  EXPECT_EQ(target.state().resets, 1u);

  // Nothing more comes: a read of one byte returns empty after 1 + 1000 ms.
  uint64_t before = target.NowMs();
  EXPECT_EQ(ReadAll(*line, 1), "");
  EXPECT_EQ(target.NowMs(), before + 1001);

  Write(*line, std::string("    ACK") + '\0');
  EXPECT_EQ(target.HostBytes().size(), 8u);
}

TEST(SimulatedTarget, WrongSettingsGarbleAndClosedPortLosesOutput) {
  SimulatedTarget target;
  int error = 0;
  {
    std::unique_ptr<SerialLine> line = OpenSerialLine("SIM1", &error);
    ASSERT_TRUE(line);
    ASSERT_EQ(line->ApplySettings("baud=9600 data=8 parity=n stop=1"), LineSettingsResult::kApplied);
    std::string heard = ReadAll(*line, 8);
    EXPECT_EQ(heard.size(), 8u);
    EXPECT_EQ(heard.find("BOOTME"), std::string::npos);
    line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off");
  }
  HostClock().SleepMs(5000);  // announcements while nobody listens are lost
  std::unique_ptr<SerialLine> line = OpenSerialLine("SIM1", &error);
  uint64_t opened = target.NowMs();
  EXPECT_EQ(ReadAll(*line, 8), std::string(" BOOTME") + '\0');
  EXPECT_LE(target.NowMs(), opened + 1000);
  EXPECT_EQ(target.OpenCount(), 2);
}

}  // namespace
