// What becomes of a reserved identity, read from records as BrenloFix writes them, and the values
// a pool is made of.
#include "ledger/run_record.h"

#include <gtest/gtest.h>

#include "ledger/identity_values.h"

namespace {

const char* const kMac = "02:1B:4D:00:00:07";
const char* const kSerial = "QV4N1501000007";

std::string Record(const std::string& result, const std::string& written, const std::string& read,
                   const std::string& programmed) {
  return R"({"result": ")" + result + R"(", "identity": {"read": )" + read + R"(, "programmed": )" +
         programmed + (written.empty() ? "" : R"(, "written": )" + written) + "}}";
}

const std::string kReserved = R"({"serialno": "QV4N1501000007", "ethaddr": "02:1b:4d:00:00:07"})";
const std::string kOwn = R"({"serialno": "OLD1", "ethaddr": "0A:00:00:00:00:01"})";

IdentityFate Fate(const std::string& text) {
  const RunRecord record = ParseRunRecord(text);
  const IdentityFate mac = FateOfReserved(record, "ethaddr", kMac);
  EXPECT_EQ(mac, FateOfReserved(record, "serialno", kSerial)) << text;
  return mac;
}

TEST(RunRecord, FateOfTheReservedIdentity) {
  // Written with the reserved pair (a MAC address in lower case is the same one): bound, even when
  // a later step failed or the run is still going.
  EXPECT_EQ(Fate(Record("failed", "true", "null", kReserved)), IdentityFate::kBound);
  EXPECT_EQ(Fate(Record("running", "true", "null", kReserved)), IdentityFate::kBound);
  // Not written: back to the pool once the run has ended, however.
  for (const char* result : {"succeeded", "failed", "rejected", "interrupted"}) {
    EXPECT_EQ(Fate(Record(result, "false", "null", "null")), IdentityFate::kReturned) << result;
  }
  // (A board that kept its own identity gives the pair back: ledger_cli_test's run 3.)
  // Cannot tell: a run still going that has not written yet (a killed run's last record), a
  // BrenloFix that does not say, an unknown result, a written record without the values, no JSON.
  EXPECT_EQ(Fate(Record("running", "false", "null", "null")), IdentityFate::kToCheck);
  EXPECT_EQ(Fate(Record("succeeded", "", "null", kReserved)), IdentityFate::kToCheck);
  EXPECT_EQ(Fate(Record("timed out", "false", "null", "null")), IdentityFate::kToCheck);
  EXPECT_EQ(Fate(Record("succeeded", "true", "null", "null")), IdentityFate::kToCheck);
  EXPECT_EQ(Fate(R"({"result": "succeeded", "identity": {"written": tru)"), IdentityFate::kToCheck);
  EXPECT_EQ(Fate("[]"), IdentityFate::kToCheck);
}

TEST(RunRecord, AssignedIsWhatTheRunPutOnTheBoard) {
  EXPECT_EQ(ParseRunRecord(Record("failed", "true", "null", kReserved)).Assigned("ethaddr"), kMac);
  EXPECT_EQ(ParseRunRecord(Record("succeeded", "true", kOwn, kOwn)).Assigned("serialno"), std::nullopt);
  EXPECT_EQ(ParseRunRecord(Record("failed", "false", "null", kReserved)).Assigned("serialno"), std::nullopt);
  // An older record: the environment step's success is the write.
  const std::string older = R"({"result": "failed", "identity": {"read": null, "programmed": )" + kReserved +
                            R"(}, "steps": [{"name": "ProgramEnvironment", "result": "succeeded"}]})";
  EXPECT_EQ(ParseRunRecord(older).Assigned("serialno"), kSerial);
}

TEST(IdentityValues, RangesThatAPoolTakes) {
  EXPECT_EQ(ParseMacAddress("02:1b:4D:00:0f:FF"), 0x021B4D000FFFu);
  for (const char* wrong :
       {"02:1B:4D:00:0F", "02-1B-4D-00-0F-FF", ":::::021B4D000FFF", "02:1B:4D:00:0F:FG"}) {
    EXPECT_FALSE(ParseMacAddress(wrong)) << wrong;
  }
  EXPECT_EQ(MacAddressText(0x021B4D000FFF), "02:1B:4D:00:0F:FF");
  // A range's serial numbers as handed out (prefix, zero-padded to FIRST's width): ledger_cli_test.
  EXPECT_FALSE(ParseSerialRange("QV4N1501", "0001", "001"));    // widths differ
  EXPECT_FALSE(ParseSerialRange("QV4N;1501", "0001", "0009"));  // U-Boot would run a second command
  EXPECT_FALSE(ParseSerialRange("QV4N1501", "0009", "0001"));   // backwards
  EXPECT_FALSE(ParseSerialRange(std::string(28, 'A'), "00001", "00002"));  // 33 characters
  EXPECT_FALSE(ParseMacRange("02:00:00:00:00:00", "02:00:00:0F:42:40"));   // more than a million
  EXPECT_TRUE(ParseMacRange("02:00:00:00:00:00", "02:00:00:0F:42:3F"));
}

}  // namespace
