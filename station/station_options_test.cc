#include "station/station_options.h"

#include <gtest/gtest.h>

namespace {

std::optional<StationOptions> Parse(std::vector<std::string> argv, std::string* error) {
  return ParseStationOptions(argv, error);
}

// What the Python station took, the C++ one takes: a port that holds "=" itself, an identity only
// when the text after the last fitting "=" is a MAC address and a serial number, --opt=value, and
// BrenloFix's own options after "--" passed on untouched.
TEST(StationOptions, BoardsAndWhatIsPassedOn) {
  std::string error;
  const auto options = Parse({"--board", "rfc2217://host:7001?x=1=02:1B:4D:00:07:77,QV4N150101777", "--board",
                              "/dev/ttyUSB0=02:1b:4d:00:00:01,QV4N1", "--timeout=0.5", "--brenlofix-ledger", "x",
                              "--", "-al", "--board", "y"},
                             &error);
  ASSERT_TRUE(options) << error;
  ASSERT_EQ(options->boards.size(), 2u);
  EXPECT_EQ(options->boards[0].port, "rfc2217://host:7001?x=1");
  EXPECT_EQ(options->boards[0].mac, "02:1B:4D:00:07:77");
  EXPECT_EQ(options->boards[0].serial, "QV4N150101777");
  // Lower-case hex digits are no identity the station gives: the whole text is the port.
  EXPECT_EQ(options->boards[1].port, "/dev/ttyUSB0=02:1b:4d:00:00:01,QV4N1");
  EXPECT_FALSE(options->boards[1].mac);
  EXPECT_EQ(options->timeoutMinutes, 0.5);
  EXPECT_EQ(options->passedOn, (std::vector<std::string>{"-al", "--board", "y"}));
  EXPECT_EQ(SafePortName("rfc2217://127.0.0.1:7001/"), "rfc2217_127_0_0_1_7001");
}

TEST(StationOptions, RefusedInWords) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{}, "Error: give at least one --board PORT"},
      {{"--board", "COM3", "--board", "COM3"}, "Error: a port is named twice"},
      {{"--board", "COM3", "--timeout", "0"}, "Error: --timeout takes a number of minutes above 0"},
      {{"--board", "COM3", "--timeout", "5x"}, "Error: --timeout takes a number of minutes above 0"},
      {{"--board", "COM3", "--typing", "fast"}, "Error: --typing takes echo or paced"},
      {{"--board", "COM3", "--images"}, "Error: --images needs a value"},
      {{"--board", "COM3", "--imagse", "x"}, "Error: unknown option --imagse"},
      {{"--board", "COM3", "--keep-page", "--continuous"},
       "Error: --keep-page is for a batch: a continuous station keeps its page until it is stopped"},
      {{"--board", "COM3", "--keep-page", "--listen", "none"},
       "Error: --keep-page needs the page: --listen none gives none"},
  };
  for (const auto& [argv, words] : refused) {
    std::string error;
    EXPECT_FALSE(Parse(argv, &error));
    EXPECT_EQ(error, words);
  }
}

}  // namespace
