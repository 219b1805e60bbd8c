#include "host/sequence/identity_backup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/link/log_file.h"
#include "host/testing/console_log_capture.h"
#include "host/testing/kernel_upload_support.h"
#include "host/testing/simulated_target.h"

namespace {

using kernel_upload_test::InstallBootLoaders;
using kernel_upload_test::RecordedPort;
using kernel_upload_test::SaveEnvironment;

constexpr char kSerial[] = "QV4N150101ABC";
constexpr char kMac[] = "02:1B:4D:12:34:56";

sim::BoardOptions WithFaults(void (*set)(sim::Faults&)) {
  sim::BoardOptions options;
  if (set) set(options.faults);
  return options;
}

class BackupIdentityTest : public ConsoleLogCaptureTest {
 protected:
  BackupIdentityTest() : ConsoleLogCaptureTest("backup_identity_test.log") {}
  void Flash(SimulatedTarget& target, bool withIdentity = true) {
    InstallBootLoaders(target.state());
    if (withIdentity) SaveEnvironment(target.state(), kSerial, kMac);
  }
  static bool StartIsErased(SimulatedTarget& target) { return target.state().nand.IsErased(0, 0x80000); }

  OptionMap backup_;
};

TEST_F(BackupIdentityTest, ReadsBothValuesThenErasesTheStartOfNand) {
  SimulatedTarget target;
  Flash(target);
  RecordedPort port;
  uint64_t start = target.NowMs();
  ASSERT_EQ(BackupIdentity(port.name(), backup_), 1) << console_.str();
  EXPECT_EQ(backup_, (OptionMap{{"ethaddr", kMac}, {"serialno", kSerial}}));
  EXPECT_TRUE(StartIsErased(target));
  EXPECT_FALSE(target.state().nand.IsErased(sim::kUbootOffset, sim::kNandPage)) << "U-Boot itself stays";

  const std::string typed = "\n\nprintenv serialno\rprintenv ethaddr\rnand erase 0x00000000 0x00080000\r";
  EXPECT_EQ(port.record.Written(), typed);
  // Paced: one byte a write, 10 ms apart.
  ASSERT_EQ(port.record.writes.size(), typed.size());
  for (size_t i = 1; i < port.record.writes.size(); ++i)
    ASSERT_GE(port.record.writes[i].atMs - port.record.writes[i - 1].atMs, 10u) << "byte " << i;
  // The break of 500 ms and the pause of 500 ms come before the first wait.
  EXPECT_GE(port.record.writes[0].atMs - start, 1000u);

  const std::string log = Log();
  EXPECT_NE(log.find("serialno = QV4N150101ABC\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("ethaddr = 02:1B:4D:12:34:56\r\n"), std::string::npos) << log;
  EXPECT_EQ(target.OpenCount(), 1);
}

TEST_F(BackupIdentityTest, BoardInBootRomIsAnEmptyBackup) {
  SimulatedTarget target;  // nothing in NAND: the boot ROM announces serial boot
  RecordedPort port;
  uint64_t start = target.NowMs();
  ASSERT_EQ(BackupIdentity(port.name(), backup_), 1);
  EXPECT_TRUE(backup_.empty());
  EXPECT_EQ(port.record.Written(), "") << "nothing typed";
  EXPECT_LT(target.NowMs() - start, 3000u) << "ends at the first BOOTME";
  EXPECT_TRUE(target.state().nand.Blocks().empty()) << "nothing erased or written";
  EXPECT_NE(Log().find("no identity was read"), std::string::npos);
}

TEST_F(BackupIdentityTest, SilentLineIsAnEmptyBackupAfterTenSeconds) {
  SimulatedTarget target(WithFaults([](sim::Faults& f) { f.silent = true; }));
  Flash(target);
  uint64_t start = target.NowMs();
  ASSERT_EQ(BackupIdentity(target.portName(), backup_), 1);
  EXPECT_TRUE(backup_.empty());
  // 500 ms break, 500 ms pause, then 10 s for "UBL Version:" to the grain of one read.
  uint64_t elapsed = target.NowMs() - start;
  EXPECT_GE(elapsed, 11000u);
  EXPECT_LE(elapsed, 12001u);
  EXPECT_TRUE(target.HostBytes().empty());
  EXPECT_FALSE(StartIsErased(target));
}

TEST_F(BackupIdentityTest, PortThatCannotBeOpenedFailsAtOnce) {
  SimulatedTarget target;
  uint64_t start = target.NowMs();
  EXPECT_EQ(BackupIdentity("NOSUCHPORT", backup_), 0);
  EXPECT_EQ(target.NowMs(), start);
  EXPECT_NE(console_.str().find("Could not open NOSUCHPORT port: error("), std::string::npos);
}

TEST_F(BackupIdentityTest, BadUBootReportFails) {
  SimulatedTarget target(WithFaults([](sim::Faults& f) { f.ublBad = true; }));
  Flash(target);
  uint64_t start = target.NowMs();
  EXPECT_EQ(BackupIdentity(target.portName(), backup_), 0);
  EXPECT_LT(target.NowMs() - start, 3000u) << "the Bad line ends the wait, not its time-out";
  EXPECT_TRUE(backup_.empty());
  EXPECT_TRUE(target.HostBytes().empty());
  EXPECT_FALSE(StartIsErased(target));
}

// U-Boot's "not defined" is its answer that the board holds no such value: the backup goes on at
// once without it, as for a board without an identity, and the log names what was missing. Whether
// NAND is erased then is the run's choice.
TEST_F(BackupIdentityTest, AValueUBootDoesNotHoldIsAnAnswer) {
  for (WithoutIdentity without : {WithoutIdentity::kErase, WithoutIdentity::kKeepNand}) {
    SimulatedTarget target(WithFaults([](sim::Faults& f) { f.missingEthaddr = true; }));
    Flash(target);
    RecordedPort port;
    OptionMap backup;
    std::vector<std::string> lacking;
    ASSERT_EQ(BackupIdentity(port.name(), backup, without, &lacking), 1);
    EXPECT_EQ(backup, (OptionMap{{"serialno", kSerial}}));
    EXPECT_EQ(lacking, std::vector<std::string>{"ethaddr"});
    const uint32_t asked = port.record.TimeWritten("printenv ethaddr\r");
    ASSERT_NE(asked, 0u);
    EXPECT_LT(port.record.TimeRead("## Error: \"ethaddr\" not defined") - asked, 1000u) << "no time-out";
    EXPECT_EQ(StartIsErased(target), without == WithoutIdentity::kErase);
  }
  const std::string log = Log();
  EXPECT_NE(log.find("serialno = QV4N150101ABC\r\nethaddr: not defined on the board\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("The board's U-Boot holds no ethaddr"), std::string::npos);
}

TEST_F(BackupIdentityTest, EraseFailureFailsAfterBothValues) {
  SimulatedTarget target(WithFaults([](sim::Faults& f) { f.eraseFail = true; }));
  Flash(target);
  RecordedPort port;
  EXPECT_EQ(BackupIdentity(port.name(), backup_), 0);
  EXPECT_EQ(backup_.size(), 2u);
  uint32_t erase = port.record.TimeWritten("nand erase 0x00000000 0x00080000\r");
  ASSERT_NE(erase, 0u);
  // U-Boot 1.x says "ERROR" where others say "FAIL": either line ends the wait, not its time-out.
  const uint32_t refused = port.record.TimeRead("ERROR");
  ASSERT_NE(refused, 0u);
  EXPECT_LT(target.NowMs() - refused, 100u);
  EXPECT_LT(target.NowMs() - erase, 1000u);
}

TEST_F(BackupIdentityTest, BoardWithoutSavedEnvironmentGivesItsBuiltInIdentity) {
  SimulatedTarget target;
  Flash(target, false);
  ASSERT_EQ(BackupIdentity(target.portName(), backup_), 1);
  EXPECT_EQ(backup_, (OptionMap{{"ethaddr", sim::kFactoryEthaddr}, {"serialno", sim::kFactorySerialno}}));
}

}  // namespace
