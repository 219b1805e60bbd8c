#include "device/nand/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/nand/env_block.h"
#include "device/testing/test_tool_io.h"

namespace {

using Strings = std::vector<std::string>;
using namespace std::string_literals;

const char kUsage[] =
    "Usage: uboot [opts] cmd [cmd_args]\n"
    "Where opts can be:\n"
    "   --file, -f file_name  -- Load uboot vars from file, default /dev/mtd0\n"
    "   --yes, -y             -- Store anyway even if list is empty\n"
    "Where cmd can be:\n"
    "   set [{name} {value}]  -- Set var {name} to {value}\n"
    "   get [{name}]          -- Get var named {name}\n"
    "   list                  -- Get list of all vars\n";

class Commands : public testing::Test {
 protected:
  // Runs one command word with its arguments on path.
  int Run(const Strings& words, bool forceWrite = false) {
    std::vector<char*> args;
    for (const std::string& w : words) args.push_back(const_cast<char*>(w.c_str()));
    RunSettings settings = {path_.c_str(), forceWrite, words.empty() ? "help" : args[0],
                            words.empty() ? 0 : static_cast<int>(words.size()) - 1,
                            args.empty() ? nullptr : args.data() + 1};
    return RunCommand(settings, t.io);
  }
  void UseFile(const std::string& data) { t.storage.AddFile(path_, MakeBlock(data, 16384)); }
  // The variables now in the block.
  Strings Stored() {
    EnvVar head;
    EnvVarClear(&head);
    EXPECT_TRUE(EnvLoad(t.io, &head, path_.c_str()));
    Strings entries = Entries(&head);
    EnvVarDestroy(&head);
    return entries;
  }
  std::vector<unsigned char>& Bytes() { return t.storage.Find(path_)->bytes; }
  Strings Events() { return Strings(t.storage.events().begin(), t.storage.events().end()); }

  TestToolIo t;
  std::string path_ = "/env";
};

TEST_F(Commands, HelpAndArgumentCounts) {
  EXPECT_EQ(0, Run({}));
  EXPECT_EQ(0, Run({"help", "more", "words"}));
  EXPECT_EQ(std::string(kUsage) + kUsage, t.Out());
  for (const Strings& wrong :
       {Strings{"set", "a"}, Strings{"set", "a", "b", "c"}, Strings{"get", "a", "b"}, Strings{"list", "x"}}) {
    TestToolIo fresh;
    std::swap(t.io, fresh.io);
    EXPECT_EQ(1, Run(wrong)) << wrong[0];
    EXPECT_EQ(kUsage, fresh.Out()) << wrong[0];
    std::swap(t.io, fresh.io);
  }
  EXPECT_TRUE(t.storage.events().empty());
}

TEST_F(Commands, UnknownCommandIsAFailure) {
  EXPECT_EQ(1, Run({"lsit"}));
  EXPECT_EQ("Cmd \"lsit\" unknown\n", t.Out());
  EXPECT_EQ("", t.Err());
}

TEST_F(Commands, GetAndListPrintInBlockOrder) {
  UseFile("b=2\0a=1\0a=dup\0x=\0\0"s);
  EXPECT_EQ(0, Run({"get"}));
  EXPECT_EQ(0, Run({"get", "a"}));  // the first of two
  EXPECT_EQ(0, Run({"get", "x"}));
  EXPECT_EQ(0, Run({"list"}));
  EXPECT_EQ("b=2\na=1\na=dup\nx=\n1\n\nb\na\na\nx\n", t.Out());
  EXPECT_EQ(1, Run({"get", "absent"}));
  EXPECT_EQ("b=2\na=1\na=dup\nx=\n1\n\nb\na\na\nx\n", t.Out());
  EXPECT_EQ("", t.Err());
  EXPECT_EQ(0, t.storage.Find(path_)->readsWithoutLock);  // read under the shared lock
}

TEST_F(Commands, EmptyEnvironmentsPrintNothing) {
  t.storage.AddMtd(path_, 65536, 16384);  // erased: no end marker anywhere
  EXPECT_EQ(0, Run({"get"}));
  EXPECT_EQ(0, Run({"list"}));
  t.storage.AddFile(path_, {0x01, 0x02, 0x03});  // shorter than the header
  EXPECT_EQ(0, Run({"list"}));
  EXPECT_EQ(1, Run({"get", "a"}));
  EXPECT_EQ("", t.Out());
  EXPECT_EQ("", t.Err());
}

TEST_F(Commands, ReadFailuresNameThePath) {
  path_ = "/missing";
  EXPECT_EQ(1, Run({"get"}));
  EXPECT_EQ(1, Run({"list"}));
  EXPECT_EQ(1, Run({"get", "a"}));
  EXPECT_EQ(1, Run({"set", "a", "1"}));
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "Error: cannot read file \"/missing\"\n";
  EXPECT_EQ(expected, t.Err());
  EXPECT_EQ("", t.Out());
  EXPECT_EQ(nullptr, t.storage.Find("/missing"));
}

TEST_F(Commands, SetKeepsThePlaceOfAnExistingVariableAndAppendsANewOne) {
  UseFile("a=1\0b=2\0b=3\0\0"s);
  EXPECT_EQ(0, Run({"set", "b", "new"}));
  EXPECT_EQ((Strings{"a=1", "b=new", "b=3"}), Stored());
  EXPECT_EQ(0, Run({"set", "c", "x=y"}));
  EXPECT_EQ((Strings{"a=1", "b=new", "b=3", "c=x=y"}), Stored());
  EXPECT_EQ(0, Run({"set", "IPADDR", "1"}));  // protection is case-sensitive
  EXPECT_EQ("", t.Out() + t.Err());
  // A name holding '=' is stored as given and split at its first '=' on the next load.
  EXPECT_EQ(0, Run({"set", "k=b", "x"}));
  EXPECT_EQ("k=b=x", Stored().back());
  // An empty name makes an entry that loads skip.
  EXPECT_EQ(0, Run({"set", "", "v"}));
  EXPECT_NE(std::string::npos, std::string(Bytes().begin(), Bytes().end()).find("\0=v\0\0"s));
  EXPECT_EQ("k=b=x", Stored().back());
}

TEST_F(Commands, SetWithEmptyValueRemovesTheFirstOfThatName) {
  UseFile("a=1\0b=2\0c=3\0b=4\0\0"s);
  EXPECT_EQ(0, Run({"set", "b", ""}));
  EXPECT_EQ((Strings{"a=1", "c=3", "b=4"}), Stored());
  EXPECT_EQ(0, Run({"set", "a", ""}));  // the head record
  EXPECT_EQ((Strings{"c=3", "b=4"}), Stored());
  EXPECT_EQ(0, Run({"set", "b", ""}));  // the last record
  EXPECT_EQ((Strings{"c=3"}), Stored());
  const int writes = t.storage.Find(path_)->writes;
  EXPECT_EQ(0, Run({"set", "absent", ""}));  // stored all the same
  EXPECT_EQ(writes + 1, t.storage.Find(path_)->writes);
  EXPECT_EQ((Strings{"c=3"}), Stored());
}

TEST_F(Commands, NeverWritesAnEmptyEnvironment) {
  UseFile("only=1\0\0"s);
  const auto before = Bytes();
  EXPECT_EQ(1, Run({"set", "only", ""}));
  EXPECT_EQ("Error: cannot write file \"/env\"\n", t.Err());
  EXPECT_EQ(before, Bytes());
  UseFile(""s);
  EXPECT_EQ(1, Run({"set", "a", "1"}));  // filled through the rewrite form only
  EXPECT_EQ(0, t.storage.Find(path_)->writes);
}

TEST_F(Commands, ProtectedVariablesAreRefusedBeforeTheBlockIsRead) {
  UseFile("a=1\0\0"s);
  for (const char* name : {"ipaddr", "netmask", "gateway", "ethaddr", "serialno"}) {
    EXPECT_EQ(1, Run({"set", name, "x"})) << name;
    EXPECT_EQ(1, Run({"set", name, ""})) << name;
  }
  std::string expected;
  for (int i = 0; i < 10; ++i) {
    expected += "Usage of uboot utility to set network parameters is prohibited. Please use UCI utility.\n";
  }
  EXPECT_EQ(expected, t.Err());
  EXPECT_TRUE(t.storage.events().empty());
}

TEST_F(Commands, OverlongEntriesAreRefusedBeforeAnythingIsRead) {
  UseFile("a=1\0\0"s);
  EXPECT_EQ(0, Run({"set", "n", std::string(1021, 'v')}));  // 1023 characters in all
  EXPECT_EQ(1, Run({"set", "n", std::string(1022, 'v')}));
  EXPECT_EQ(1, Run({"set", std::string(2000, 'N'), "v"}));
  EXPECT_EQ(
      "Error: cannot store \"n\": a variable (name, '=' and value) holds at most 1023 characters\n"
      "Error: cannot store \"NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN...\": a variable (name, '=' and value) "
      "holds at "
      "most 1023 characters\n",
      t.Err());
  EXPECT_EQ((Strings{"a=1", "n=" + std::string(1021, 'v')}), Stored());
  EXPECT_EQ(1, t.storage.Find(path_)->writes);
}

TEST_F(Commands, SetHoldsTheExclusiveLockAcrossReadAndWrite) {
  path_ = "/dev/mtd0";
  t.storage.AddMtd(path_, 32768, 16384);
  Bytes() = MakeBlock("a=1\0\0"s, 32768, 0xFF);
  EXPECT_EQ(0, Run({"set", "b", "2"}));
  const Strings events = Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ((Strings{"open /dev/mtd0", "lock-ex"}), Strings(events.begin(), events.begin() + 2));
  EXPECT_EQ((Strings{"unlock", "close"}), Strings(events.end() - 2, events.end()));
  EXPECT_EQ(0, t.storage.Find(path_)->writesWithoutExclusiveLock);
  EXPECT_EQ(0, t.storage.Find(path_)->readsWithoutLock);
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{0, 32768}}), t.storage.Find(path_)->erases);
  EXPECT_EQ((Strings{"a=1", "b=2"}), Stored());
  EXPECT_EQ(0, t.storage.OpenDescriptors());
  EXPECT_EQ(Strings{}, t.storage.violations());

  t.storage.Find(path_)->failLock = true;
  EXPECT_EQ(1, Run({"set", "c", "3"}));
  EXPECT_EQ("Error: cannot lock </dev/mtd0>: No locks available\n", t.Err());
  EXPECT_EQ(1, t.storage.Find(path_)->writes);
}

TEST_F(Commands, FailedStoreShowsTheDeviceMessageThenTheCommands) {
  path_ = "/dev/mtd0";
  t.storage.AddMtd(path_, 32768, 16384).failErase = true;
  Bytes() = MakeBlock("a=1\0\0"s, 32768, 0xFF);
  const auto before = Bytes();
  EXPECT_EQ(1, Run({"set", "b", "2"}));
  EXPECT_EQ(1, Run({"set", "b", "2"}, true));
  t.SetInput("x=1\n");
  EXPECT_EQ(1, Run({"set"}, true));
  EXPECT_EQ(
      "Error: cannot erase flash </dev/mtd0>\nError: cannot write file \"/dev/mtd0\"\n"
      "Error: cannot erase flash </dev/mtd0>\nError: cannot write file \"/dev/mtd0\"\n"
      "Error: cannot erase flash </dev/mtd0>\nError: cannot write to file \"/dev/mtd0\"\n",
      t.Err());
  EXPECT_EQ(before, Bytes());
}

TEST_F(Commands, RewriteNeedsYesAndReadsNothingWithoutIt) {
  UseFile("a=1\0\0"s);
  t.SetInput("b=2\n");
  EXPECT_EQ(1, Run({"set"}));
  EXPECT_EQ("Error: you try to rewrite all vars. You '-y' flag\n", t.Err());
  EXPECT_EQ(0, t.InputPosition());
  EXPECT_EQ(0, t.storage.Find(path_)->writes);
}

TEST_F(Commands, RewriteReplacesEveryVariableLineByLine) {
  UseFile("old=1\0\0"s);
  t.SetInput("a=1\nb\n\nipaddr=10.0.0.1\na=2\nlast=no newline");
  EXPECT_EQ(0, Run({"set"}, true));
  EXPECT_EQ("", t.Err());
  // The empty line is stored as a lone '=', which loads skip; protected names and duplicates pass.
  EXPECT_EQ("a=1\0b=\0=\0ipaddr=10.0.0.1\0a=2\0last=no newline\0\0"s,
            std::string(Bytes().begin() + 4, Bytes().begin() + 50));
  EXPECT_EQ((Strings{"a=1", "b=", "ipaddr=10.0.0.1", "a=2", "last=no newline"}), Stored());
  EXPECT_EQ(0, t.storage.Find(path_)->writesWithoutExclusiveLock);
}

TEST_F(Commands, RewriteKeepsALongLineWhole) {
  const std::string bootargs = "bootargs=" + std::string(1014, 'x');  // 1023 characters
  path_ = "/new";
  t.SetInput("a=1\n" + bootargs + "\n" + std::string(300, 'n') + "\n");
  EXPECT_EQ(0, Run({"set"}, true));
  EXPECT_EQ((Strings{"a=1", bootargs, std::string(300, 'n') + "="}), Stored());
}

TEST_F(Commands, RewriteRefusesOverlongLinesAndListsThatDoNotFitBeforeErasing) {
  path_ = "/dev/mtd0";
  t.storage.AddMtd(path_, 16384, 16384);
  Bytes() = MakeBlock("keep=1\0\0"s, 16384, 0xFF);
  const auto before = Bytes();
  t.SetInput("a=1\nbootargs=" + std::string(1015, 'x') + "\nb=2\n");
  EXPECT_EQ(1, Run({"set"}, true));
  EXPECT_EQ(
      "Error: cannot store \"bootargs=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\": a variable (name, '=' and value) "
      "holds at most 1023 characters\n",
      t.Err());
  {
    TestToolIo fresh;
    std::swap(t.io.in, fresh.io.in);
    std::swap(t.io.err, fresh.io.err);
    std::string lines;
    for (int i = 0; i < 17; ++i) lines += "v" + std::to_string(i) + "=" + std::string(1000, 'x') + "\n";
    fresh.SetInput(lines);
    EXPECT_EQ(1, Run({"set"}, true));
    EXPECT_EQ(
        "Error: cannot fit the variables (17080 bytes) into the block of 16384 bytes </dev/mtd0>\n"
        "Error: cannot write to file \"/dev/mtd0\"\n",
        fresh.Err());
    std::swap(t.io.in, fresh.io.in);
    std::swap(t.io.err, fresh.io.err);
  }
  EXPECT_TRUE(t.storage.Find(path_)->erases.empty());
  EXPECT_EQ(0, t.storage.Find(path_)->writes);
  EXPECT_EQ(before, Bytes());
}

TEST_F(Commands, RewriteWithoutInputWritesNothing) {
  path_ = "/new";
  EXPECT_EQ(1, Run({"set"}, true));
  t.SetInput(std::string("\0a=1\n", 5));  // a read that yields no text ends the input
  EXPECT_EQ(1, Run({"set"}, true));
  EXPECT_EQ("Error: nothing to write\nError: nothing to write\n", t.Err());
  EXPECT_EQ(nullptr, t.storage.Find("/new"));
}

}  // namespace
