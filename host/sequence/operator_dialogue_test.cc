#include "host/sequence/operator_dialogue.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <sstream>

#include "host/testing/scripted_console.h"

namespace {

const std::string kMacRule =
    "Error: 'ethaddr' has a bad value\n"
    "A MAC address is six pairs of hex digits 0-9 and A-F separated by colons, for example "
    "02:1B:4D:12:34:56.\n";

// Runs a dialogue on scripted answers and keeps what it printed (terminal colours removed).
class DialogueTest : public ::testing::Test {
 protected:
  template <typename Dialogue>
  auto Answer(const std::string& answers, Dialogue dialogue) {
    ScriptedConsole console(answers);
    std::ostringstream captured;
    std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
    auto result = dialogue();
    std::cout.rdbuf(saved);
    output = std::regex_replace(captured.str(), std::regex("\033\\[[0-9;]*m"), "");
    unread = console.Remaining();
    return result;
  }

  std::string output;
  std::string unread;
  OptionMap identity{{"ethaddr", "02:1B:4D:00:00:00"}, {"serialno", "QV4N150101XXX"}};
};

TEST_F(DialogueTest, ConfirmedValuesStay) {
  EXPECT_TRUE(Answer("Y\ny\n", [&] { return ConfirmValues(identity); }));
  EXPECT_EQ(output,
            "'ethaddr' is '02:1B:4D:00:00:00' Confirm? [Y/N]: "
            "'serialno' is 'QV4N150101XXX' Confirm? [Y/N]: ");
  EXPECT_EQ(identity.at("serialno"), "QV4N150101XXX");
  EXPECT_EQ(unread, "\n");
}

TEST_F(DialogueTest, OtherAnswersAskTheSameQuestionAgain) {
  EXPECT_TRUE(Answer("x\nyes\n\nY\n", [&] { return ConfirmValues(identity); }));
  // "x" asks again; "yes" confirms ethaddr; its rest is thrown away; the empty line's line end
  // asks again for serialno; "Y" confirms.
  EXPECT_EQ(output,
            "'ethaddr' is '02:1B:4D:00:00:00' Confirm? [Y/N]: "
            "'ethaddr' is '02:1B:4D:00:00:00' Confirm? [Y/N]: "
            "'serialno' is 'QV4N150101XXX' Confirm? [Y/N]: "
            "'serialno' is 'QV4N150101XXX' Confirm? [Y/N]: ");
}

// A refused value is told with what it must be: the serial number is typed unquoted at U-Boot's
// prompt, where ";" would run a second command.
TEST_F(DialogueTest, ARetypedValueIsAskedForUntilItIsValid) {
  EXPECT_TRUE(Answer("n\n02:1b:4d:00:00:01\n02:1B:4D:00:00:01\nN\n" + std::string(33, 'S') +
                         "\nQV4N;reset\n  QV4N150101777  \n",
                     [&] { return ConfirmValues(identity); }));
  EXPECT_EQ(identity, (OptionMap{{"ethaddr", "02:1B:4D:00:00:01"}, {"serialno", "QV4N150101777"}}));
  const std::string serialRule =
      "Error: 'serialno' has a bad value\n"
      "A serial number is 1 to 32 characters of A-Z a-z 0-9 . _ : / - (U-Boot keeps them as typed).\n"
      "Enter serialno: ";
  EXPECT_EQ(output, "'ethaddr' is '02:1B:4D:00:00:00' Confirm? [Y/N]: Enter ethaddr: " + kMacRule +
                        "Enter ethaddr: "
                        "'serialno' is 'QV4N150101XXX' Confirm? [Y/N]: Enter serialno: " +
                        serialRule + serialRule);
}

TEST_F(DialogueTest, AnInvalidValueConfirmedEarlierDoesNotLockTheDialogue) {
  // A MAC address read back from the board may be lower case; the operator keeps it and retypes
  // the serial number, which is checked on its own.
  identity["ethaddr"] = "02:1b:4d:00:00:00";
  EXPECT_TRUE(Answer("Y\nN\nQV4N150101001\n", [&] { return ConfirmValues(identity); }));
  EXPECT_EQ(identity,
            (OptionMap{{"ethaddr", "02:1b:4d:00:00:00"}, {"serialno", "QV4N150101001"}}));
  EXPECT_EQ(output.find("Error"), std::string::npos) << output;
}

TEST_F(DialogueTest, TheEndOfInputEndsTheDialogue) {
  EXPECT_FALSE(Answer("", [&] { return ConfirmValues(identity); }));
  EXPECT_FALSE(Answer("N\nbad", [&] { return ConfirmValues(identity); }));
  EXPECT_EQ(identity.at("ethaddr"), "02:1B:4D:00:00:00");
  EXPECT_EQ(output, "'ethaddr' is '02:1B:4D:00:00:00' Confirm? [Y/N]: Enter ethaddr: " + kMacRule +
                        "Enter ethaddr: ");
}

TEST_F(DialogueTest, OnlyALowerCaseRIsARetry) {
  EXPECT_TRUE(Answer("r", [] { return AskRetry("Flashing failed! Press 'r' to retry or any key to quit.."); }));
  EXPECT_EQ(output, "Flashing failed! Press 'r' to retry or any key to quit..\n");
  for (const char* refusal : {"R", "x", "\n", " ", ""}) {
    EXPECT_FALSE(Answer(refusal, [] { return AskRetry("Q"); })) << refusal;
  }
}

TEST_F(DialogueTest, TheKeyWaitTakesOneKey) {
  Answer("ab", [] {
    WaitForAnyKey();
    return 0;
  });
  EXPECT_EQ(output, "Press any key..\n");
  EXPECT_EQ(unread, "b");
}

}  // namespace
