#include "host/sequence/default_environment.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "host/sequence/run_log.h"

namespace {

TEST(FillDefaultEnvironment, AppendsTheTwentyEightCommands) {
  CommandList commands{"already there"};
  FillDefaultEnvironment(commands);
  ASSERT_EQ(commands.size(), 1 + kDefaultCommandCount);
  EXPECT_EQ(commands[0], "already there");
  EXPECT_EQ(commands[1], "setenv ipaddr 192.168.102.30");
  EXPECT_EQ(commands.back(),
            "setenv try_boot_mmc 'mmc rescan; ext2load mmc 0:1 0x80700000 /boot/uImage; bootm "
            "0x80700000; echo \"Try boot from NAND\"; run try_boot_kernel;'");
  std::set<std::string> variables;
  size_t longest = 0;
  for (size_t i = 1; i < commands.size(); ++i) {
    std::istringstream words(commands[i]);
    std::string verb, variable;
    words >> verb >> variable;
    EXPECT_EQ(verb, "setenv");
    variables.insert(variable);
    longest = std::max(longest, commands[i].size());
    EXPECT_EQ(commands[i].find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_EQ(variables.size(), kDefaultCommandCount);  // every variable set once
  EXPECT_EQ(longest, 228u);  // make_nand_kernel_clones: the board's console must take it
}

TEST(FillDefaultEnvironment, NamesTenKernelSlotsStartingAtTheKernelOffset) {
  CommandList commands;
  FillDefaultEnvironment(commands);
  EXPECT_EQ(commands[12], "setenv kernel_offset 0x00200000");
  const std::string slots = commands[13];
  const std::string prefix = "setenv nand_kern_offs '";
  ASSERT_EQ(slots.compare(0, prefix.size(), prefix), 0);
  std::istringstream offsets(slots.substr(prefix.size(), slots.size() - prefix.size() - 1));
  std::vector<std::string> list;
  for (std::string offset; offsets >> offset;) list.push_back(offset);
  ASSERT_EQ(list.size(), 10u);
  EXPECT_EQ(list.front(), "0x00200000");
  EXPECT_EQ(list.back(), "0x6400000");
  EXPECT_NE(commands[25].find("nand write 0x80700000 ${clone_offs} ${kernel_size}"),
            std::string::npos);
  // The boot script goes through the same ten offsets, one word each: ${nand_kern_offs} unquoted.
  EXPECT_EQ(commands[26],
            "setenv try_boot_kernel 'for clone_offs in ${nand_kern_offs}; do echo \"Trying offset "
            "${clone_offs}\"; nand read 0x80700000 ${clone_offs} ${kernel_size}; if iminfo 0x80700000; "
            "then bootm 0x80700000; fi; done;'");
}

TEST(LogFileName, HasNoLeadingZeros) {
  EXPECT_EQ(LogFileName(UtcTime{2014, 6, 23, 9, 5, 7, 45}), "[2014-6-23]-9-5-7-45.log");
  EXPECT_EQ(LogFileName(UtcTime{2024, 12, 31, 23, 59, 59, 999}), "[2024-12-31]-23-59-59-999.log");
  EXPECT_EQ(LogFileName(UtcTime{2025, 1, 1, 0, 0, 0, 0}), "[2025-1-1]-0-0-0-0.log");
}

}  // namespace
