#include "device/eeprom/tool_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: uboot [opts] cmd [cmd_args]\n"
    "Where opts can be:\n"
    "   -v                    -- Log messages\n"
    "   -l level              -- Variables level: \n"
    "                            0 - All. First from userspace, if not found - from defaults (by default)\n"
    "                            1 - Userspace only\n"
    "                            2 - Defaults only\n"
    "Where cmd can be:\n"
    "   set [{name} {value}]  -- Set var {name} to {value}\n"
    "   get [{name}]          -- Get var named {name}\n"
    "   list                  -- Get list of all vars\n";

struct Parsed {
  int status;
  ToolOptions options;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "uboot-eeprom");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  Parsed parsed;
  parsed.options = ToolOptions();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  parsed.status = ParseToolOptions(static_cast<int>(argv.size()), argv.data(), &parsed.options);
  parsed.out = testing::internal::GetCapturedStdout();
  parsed.err = testing::internal::GetCapturedStderr();
  return parsed;
}

TEST(ParseToolOptions, CommandsAndTheirOperands) {
  Parsed p = Parse({"-v", "get", "ipaddr"});
  EXPECT_EQ(p.status, kRunCommand);
  EXPECT_EQ(p.options.command, kCommandGet);
  EXPECT_EQ(p.options.verbose, 1);
  EXPECT_STREQ(p.options.name, "ipaddr");

  p = Parse({"get"});
  EXPECT_EQ(p.options.command, kCommandGet);
  EXPECT_STREQ(p.options.name, "");

  p = Parse({"set", "x", "y", "z"});  // words after the operands are ignored
  EXPECT_EQ(p.status, kRunCommand);
  EXPECT_EQ(p.options.command, kCommandSet);
  EXPECT_STREQ(p.options.name, "x");
  EXPECT_STREQ(p.options.value, "y");

  p = Parse({"set", "x"});
  EXPECT_EQ(p.options.command, kCommandSet);
  EXPECT_STREQ(p.options.value, "");

  EXPECT_EQ(Parse({"list", "extra"}).options.command, kCommandList);
  EXPECT_EQ(Parse({"wdef"}).options.command, kCommandWriteDefaults);
  EXPECT_EQ(Parse({"wdef"}).options.verbose, 0);
  EXPECT_EQ(Parse({"list"}).out, "");
}

TEST(ParseToolOptions, LevelQuirks) {
  EXPECT_EQ(Parse({"-l2", "get", "ipaddr"}).options.level, 2);
  EXPECT_EQ(Parse({"-l", "2", "get", "ipaddr"}).options.level, 2);
  EXPECT_EQ(Parse({"-l", "1", "get"}).options.level, 1);
  EXPECT_EQ(Parse({"-lx", "get"}).options.level, 0);
  EXPECT_EQ(Parse({"-l-3", "get"}).options.level, -3);
  EXPECT_EQ(Parse({"-level7", "get"}).options.level, 0);  // "evel7" reads as 0
  Parsed p = Parse({"-l"});  // a bare -l at the end is ignored; no command: usage
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, kUsage);

  // "get" is taken as the level, so no command is left.
  p = Parse({"-l", "get"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.options.command, kCommandNone);
  EXPECT_EQ(p.out, kUsage);
  EXPECT_EQ(p.err, "");
}

TEST(ParseToolOptions, UsageHelpAndRefusals) {
  Parsed p = Parse({});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, kUsage);

  p = Parse({"help", "get"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, kUsage);
  EXPECT_EQ(p.err, "");

  p = Parse({"-y", "set", "a", "b"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "uboot: unrecognized option `-y'\n");
  EXPECT_EQ(p.out, kUsage);

  p = Parse({"-v", "set"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Error: you try to rewrite all vars. Use '-y' flag\n");
  EXPECT_EQ(p.out, "");
}

TEST(ParseToolOptions, OperandsTooLongForTheirFieldsAreRefused) {
  const std::string name63(63, 'n');
  const std::string value1023(1023, 'v');
  Parsed p = Parse({"set", name63, value1023});
  EXPECT_EQ(p.status, kRunCommand);
  EXPECT_EQ(std::string(p.options.name), name63);
  EXPECT_EQ(std::string(p.options.value), value1023);

  p = Parse({"set", name63 + "n", "1"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Error: the name is too long (at most 63 characters)\n");
  p = Parse({"get", name63 + "n"});
  EXPECT_EQ(p.status, 1);
  p = Parse({"set", "x", value1023 + "v"});
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "Error: the value is too long (at most 1023 characters)\n");
}

}  // namespace
