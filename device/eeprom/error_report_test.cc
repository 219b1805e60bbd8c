#include "device/eeprom/error_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Line(unsigned int result, int connected) {
  char line[400];
  FormatErrorLine(static_cast<PhxResult>(result), connected, line, sizeof line);
  return line;
}

TEST(ErrorLine, TextDependsOnWhetherTheLibraryWasReached) {
  EXPECT_EQ(Line(0x8000000Du, 0), "ERROR(0X8000000D [0.0]): Unknow error. \n");
  EXPECT_EQ(Line(0xB501000Bu, 0), "ERROR(0X8000000B [106.256]): Unknow error. \n");
  EXPECT_EQ(Line(0xB501000Bu, 1),
            "ERROR(0X8000000B [106.256]): Cannot open the board driver entry /proc/osadrivers/PHXDRV \n");
  EXPECT_EQ(Line(0x8402650Du, 1), "ERROR(0X8000000D [8.613]): Can't find any more devices of this device type \n");
  EXPECT_EQ(Line(0x8000000Du, 1),
            "ERROR(0X8000000D [0.0]): A descriptive error string is not available for this return code \n");
  EXPECT_EQ(Line(0xC300AA2Au, 1), "ERROR(0X2A [134.170]): The request to the board driver failed \n");
}

TEST(ExitOnErrorDeathTest, NegativeResultsEndTheRunWithStatusOne) {
  ExitOnError(0);
  ExitOnError(0x3501E416);  // a warning goes on
  EXPECT_EXIT(ExitOnError(static_cast<PhxResult>(0x8000000Du)), ::testing::ExitedWithCode(1), "^$");
  SetErrorReportVerbose(1);
  EXPECT_EXIT(ExitOnError(static_cast<PhxResult>(0x8000000Du)), ::testing::ExitedWithCode(1),
              "ERROR\\(0X8000000D \\[0\\.0\\]\\): Unknow error\\. ");
  SetErrorReportVerbose(0);
}

}  // namespace
