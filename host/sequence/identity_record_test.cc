#include "host/sequence/identity_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "host/link/log_file.h"
#include "host/testing/console_log_capture.h"

namespace {

class IdentityRecordTest : public ConsoleLogCaptureTest {
 protected:
  IdentityRecordTest() : ConsoleLogCaptureTest("identity_record_test.log") {}
};

const OptionMap kGiven{{"ethaddr", "02:1B:4D:12:34:56"}, {"serialno", "QV4N150101ABC"}};

TEST_F(IdentityRecordTest, WarnsOnlyWhenTheFactoryIdentityIsNext) {
  EXPECT_FALSE(WarnBeforeFactoryIdentity(kGiven, {}));
  EXPECT_FALSE(WarnBeforeFactoryIdentity({}, kGiven));
  EXPECT_EQ(console_.str(), "");
  // Half an identity from each side is still no identity.
  EXPECT_TRUE(WarnBeforeFactoryIdentity({{"serialno", "A"}}, {{"ethaddr", "B"}}));
  const std::string shown = console_.str();
  EXPECT_NE(shown.find("Warning: the board reports no identity; the factory identity will be programmed.\n"),
            std::string::npos);
  EXPECT_NE(shown.find("-m"), std::string::npos);
  EXPECT_NE(shown.find("-s"), std::string::npos);
  EXPECT_NE(shown.find("-i"), std::string::npos);
  const std::string log = Log();
  EXPECT_NE(log.find("Warning: the board reports no identity; the factory identity will be programmed.\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("or with -i to confirm or retype them.\r\n"), std::string::npos);
}

TEST_F(IdentityRecordTest, ProgrammedValuesOneLineEach) {
  LogProgrammedIdentity(kGiven);
  EXPECT_EQ(Log(), "Identity programmed:\r\nserialno = QV4N150101ABC\r\nethaddr = 02:1B:4D:12:34:56\r\n");
  EXPECT_EQ(console_.str(), "") << "the step machine prints the identity itself";
}

}  // namespace
