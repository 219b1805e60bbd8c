#include "device/eeprom/boardlib/phx_result.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/eeprom/boardlib/phx_driver.h"
#include "device/eeprom/boardlib/result_code_table.h"
#include "device/testing/simulated_driver_seam.h"

namespace {

std::string Translate(PhxResult result, PhxResult* status = nullptr, unsigned long size = 256) {
  char buffer[256];
  std::memset(buffer, 'x', sizeof buffer);
  const PhxResult r = ResultCode2Str(0, result, size, buffer);
  if (status) *status = r;
  return buffer;
}

PhxResult R(unsigned int bits) { return static_cast<PhxResult>(bits); }

const char kFallback[] = "A descriptive error string is not available for this return code";

TEST(PhxResultFields, ResultsOnTheToolsPathTakenApart) {
  struct Row {
    unsigned int result, facility, location, generic;
    unsigned long shown;
  } rows[] = {
      {0x8000000Du, 0, 0, 0x0D, 0x8000000Dul},   {0xC300AA0Du, 134, 170, 0x0D, 0x8000000Dul},
      {0xC300AD0Du, 134, 173, 0x0D, 0x8000000Dul}, {0xB500F30Du, 106, 243, 0x0D, 0x8000000Dul},
      {0xB501000Bu, 106, 256, 0x0B, 0x8000000Bul}, {0xB501080Bu, 106, 264, 0x0B, 0x8000000Bul},
      {0x3501E416u, 106, 484, 0x16, 0x16ul},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.result);
    EXPECT_EQ(PhxFacility(R(row.result)), row.facility);
    EXPECT_EQ(PhxLocation(R(row.result)), row.location);
    EXPECT_EQ(PhxGenericCode(R(row.result)), row.generic);
    EXPECT_EQ(PhxShownCode(R(row.result)), row.shown);
    EXPECT_EQ(PhxIsFailure(R(row.result)), row.result >> 31 ? 1 : 0);
    EXPECT_EQ(PhxIsSuccess(R(row.result)), row.result >> 31 ? 0 : 1);
  }
  EXPECT_EQ(PhxIsFailure(PHX_WARNING_NOT_CONNECTED), 0);
  EXPECT_EQ(PhxIsSuccess(3), 1);  // a timed-out wait is no failure
}

TEST(PhxResultFields, GenericCodesFromThirtyUpShowAlone) {
  EXPECT_EQ(PhxShownCode(R(0xC300AA2Au)), 0x2Aul);
  EXPECT_EQ(PhxShownCode(R(0x8000001Eu)), 0x1Eul);
  EXPECT_EQ(PhxShownCode(R(0x8000001Du)), 0x8000001Dul);
  const PhxResultSplit split = SplitPhxResult(R(0xC300AD0Du));
  EXPECT_EQ(split.shownCode, 0x8000000Dul);
  EXPECT_EQ(split.failure, 1);
  EXPECT_EQ(split.facility, 134u);
  EXPECT_EQ(split.location, 173u);
}

TEST(ResultCodeTable, KeysMatchTheirFieldsAndStrictlyAscend) {
  ASSERT_GT(kResultCodeCount, 0u);
  for (unsigned int i = 0; i < kResultCodeCount; ++i) {
    const ResultCodeRow& row = kResultCodeTable[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(row.key, (row.facility << 23) | (row.location << 8));
    EXPECT_LE(row.facility, 201u);
    EXPECT_LE(std::strlen(row.text), 276u);
    if (i > 0) {
      EXPECT_LT(kResultCodeTable[i - 1].key, row.key);
    }
  }
}

TEST(ResultCodeTable, EveryTellingRowAndEveryLibraryResultIsFound) {
  struct Row {
    unsigned int key;
    const char* text;
  } telling[] = {
      {0x04026500u, "Can't find any more devices of this device type"},
      {0x04028F00u, "Iterator is out of bounds"},
      {0x0402F700u, "The supplied string buffer is too small for this error string"},
      {0x0402FD00u, "ResultCode2Str() function failed"},
      {0x04045300u, "nFacility != PHX_FACILITY_UNKNOWN"},
      {0x04045B00u, "The nCode is out of bounds for the Result Code String lookup table"},
      {0x64008800u, "Incorrect address"},
      {0x64806600u, "Unsupported product ID"},
      {0x64807200u, "Unsupported product version (SubSystem ID)"},
  };
  for (const Row& row : telling) {
    PhxResult status = -1;
    EXPECT_EQ(Translate(R(row.key | 0x8000000Du), &status), row.text);
    EXPECT_EQ(status, 0);
  }
  const PhxResult library[] = {PHX_ERROR_REQUEST_FAILED, PHX_ERROR_REQUEST_EMPTY, PHX_ERROR_ALREADY_CONNECTED,
                               PHX_ERROR_DRIVER_ENTRY,   PHX_ERROR_EXTENSION_ENTRY, PHX_WARNING_NOT_CONNECTED};
  for (PhxResult result : library) {
    PhxResult status = -1;
    EXPECT_NE(Translate(result, &status), kFallback) << std::hex << result;
    EXPECT_EQ(status, 0);
  }
}

TEST(ResultCode2StrLocal, FailureBitAndGenericCodeDoNotMatter) {
  EXPECT_EQ(Translate(R(0x04026500u | 0x80000000u | 0x0Du)), "Can't find any more devices of this device type");
  EXPECT_EQ(Translate(R(0x04026500u | 0x0Bu)), "Can't find any more devices of this device type");
}

TEST(ResultCode2StrLocal, UnknownOrUnplacedResultsGiveTheFallbackSentence) {
  PhxResult status = 0;
  EXPECT_EQ(Translate(PHX_ERROR_CALL_FAILED, &status), kFallback);  // facility 0 is never looked up
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Translate(R(0x84000000u | 0x0Du), &status), kFallback);  // location 0
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Translate(R(0x8402650Du + 0x100u), &status), kFallback);  // between two rows
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Translate(R(0x80800100u | 0x0Du), &status), kFallback);  // below the first row
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Translate(R(0xFFFFFF0Du), &status), kFallback);  // above the last row
  EXPECT_EQ(status, 1);
}

TEST(ResultCode2StrLocal, TextsAreCutToTheBuffer) {
  char buffer[10];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ResultCode2Str(0, R(0x8402650Du), sizeof buffer, buffer), 0);
  EXPECT_STREQ(buffer, "Can't fin");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ResultCode2Str(0, PHX_ERROR_CALL_FAILED, sizeof buffer, buffer), 1);
  EXPECT_STREQ(buffer, "A descrip");
}

TEST(ResultCode2StrDriver, HandleFormAsksTheDriverWithRequest0x11) {
  simboard::MemoryWordStore store;
  simboard::SimBoardDriver driver(store, simboard::DefaultDevices(), {});
  SimulatedDriverSeam seam(driver);
  ASSERT_EQ(PhxDrvConnectLib(), 0);
  char buffer[64] = {0};
  EXPECT_EQ(ResultCode2Str(0x120, R(0x8402BE0Du), sizeof buffer, buffer), 0);
  EXPECT_STREQ(buffer, "Board driver result 0x8402BE0D");
  EXPECT_EQ(ResultCode2Str(0x999, R(0x8402BE0Du), sizeof buffer, buffer), R(simboard::kInvalidHandle));
  EXPECT_EQ(PhxDrvReleaseLib(), 0);
  // Not connected: the request itself fails.
  EXPECT_EQ(ResultCode2Str(0x120, R(0x8402BE0Du), sizeof buffer, buffer), PHX_ERROR_REQUEST_FAILED);
}

}  // namespace
