#include "device/nand/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

// Runs ParseOptions on a copy of the words (getopt_long may permute them).
struct Parsed {
  explicit Parsed(std::initializer_list<const char*> words) {
    storage.push_back("uboot-nand");
    for (const char* w : words) storage.push_back(w);
    for (std::string& s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    ParseOptions(static_cast<int>(storage.size()), argv.data(), &settings);
    for (int i = 0; i < settings.argumentCount; ++i) arguments.push_back(settings.arguments[i]);
  }
  std::vector<std::string> storage;
  std::vector<char*> argv;
  RunSettings settings;
  std::vector<std::string> arguments;
};

TEST(ParseOptions, DefaultsToHelpOnMtd0) {
  Parsed p({});
  EXPECT_STREQ("/dev/mtd0", p.settings.envPath);
  EXPECT_FALSE(p.settings.forceWrite);
  EXPECT_STREQ("help", p.settings.command);
  EXPECT_EQ(0, p.settings.argumentCount);
}

TEST(ParseOptions, ReadsShortAndLongFormsAndTheLastFileWins) {
  Parsed a({"-f", "/a", "--file", "/b", "-y", "get", "name"});
  EXPECT_STREQ("/b", a.settings.envPath);
  EXPECT_TRUE(a.settings.forceWrite);
  EXPECT_STREQ("get", a.settings.command);
  EXPECT_EQ(std::vector<std::string>{"name"}, a.arguments);
  Parsed b({"--file=/c", "--yes", "-f/d", "list"});
  EXPECT_STREQ("/d", b.settings.envPath);
  EXPECT_TRUE(b.settings.forceWrite);
  EXPECT_STREQ("list", b.settings.command);
}

TEST(ParseOptions, OptionsMayFollowTheCommandAndDoubleDashEndsThem) {
  Parsed a({"set", "name", "-f", "/e", "value", "--yes"});
  EXPECT_STREQ("/e", a.settings.envPath);
  EXPECT_TRUE(a.settings.forceWrite);
  EXPECT_STREQ("set", a.settings.command);
  EXPECT_EQ((std::vector<std::string>{"name", "value"}), a.arguments);
  Parsed b({"set", "--", "offset", "-5"});
  EXPECT_STREQ("set", b.settings.command);
  EXPECT_EQ((std::vector<std::string>{"offset", "-5"}), b.arguments);
  EXPECT_FALSE(b.settings.forceWrite);
}

TEST(ParseOptions, PassesOverUnknownOptionsAndMissingArguments) {
  testing::internal::CaptureStderr();
  Parsed a({"-z", "--bogus", "get", "x"});
  Parsed b({"list", "-f"});
  std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_STREQ("get", a.settings.command);
  EXPECT_EQ(std::vector<std::string>{"x"}, a.arguments);
  EXPECT_STREQ("list", b.settings.command);
  EXPECT_STREQ("/dev/mtd0", b.settings.envPath);
  EXPECT_NE(std::string::npos, diagnostics.find("invalid option"));
  EXPECT_NE(std::string::npos, diagnostics.find("requires an argument"));
}

}  // namespace
