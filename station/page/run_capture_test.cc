// The capture of an ended run is read only where the station wrote it: beside a record of its
// own folder, under a name it makes, a plain file.
#include "station/page/run_capture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(RunCapture, OnlyTheCaptureBesideARecordOfTheStationsOwnFolder) {
  char made[] = "/tmp/station-run-capture-XXXXXX";
  ASSERT_TRUE(mkdtemp(made));
  const std::string folder = made, records = folder + "/records";
  std::filesystem::create_directory(records);
  Write(records + "/console-rfc2217_127_0_0_1_7001-20261208T031000Z.txt", "U-Boot > <b>x</b>\r\n");
  Write(folder + "/console-outside.txt", "not the station's\n");
  Write(folder + "/secret.txt", "a file of another kind\n");
  ASSERT_EQ(symlink((folder + "/secret.txt").c_str(), (records + "/console-link.txt").c_str()), 0);
  std::filesystem::create_directory(records + "/console-folder.txt");

  const std::string record = records + "/record-rfc2217_127_0_0_1_7001-20261208T031000Z.json";
  EXPECT_EQ(ReadRunCapture(records, record, 0, 100), "U-Boot > <b>x</b>\r\n");
  EXPECT_EQ(ReadRunCapture(records, record, 9, 3), "<b>");
  EXPECT_EQ(ReadRunCapture(records, record, 500, 100), "");  // past its end: nothing more yet
  EXPECT_EQ(ReadRunCapture(records + "/", record, 0, 100), std::nullopt);
  for (const std::string& other :
       {folder + "/record-outside.json", records + "/record-link.json", records + "/record-folder.json",
        records + "/record-missing.json", records + "/record-../secret.json", records + "/record-a/b.json",
        records + "/record-.json", records + "/console-rfc2217_127_0_0_1_7001-20261208T031000Z.txt", std::string()}) {
    EXPECT_EQ(ReadRunCapture(records, other, 0, 100), std::nullopt) << other;
  }
  EXPECT_EQ(ReadRunCapture("", "/record-x.json", 0, 100), std::nullopt);
  std::filesystem::remove_all(folder);
}

}  // namespace
