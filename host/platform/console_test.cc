#include "host/platform/console.h"

#include <gtest/gtest.h>

#include "host/testing/scripted_console.h"

namespace {

TEST(ConsoleInput, WordsSkipWhiteSpaceAndLeaveTheirDelimiter) {
  ScriptedConsole console("  \n\t admin  secret\nrest");
  std::string word;
  ASSERT_TRUE(HostConsoleInput().ReadWord(&word, 254));
  EXPECT_EQ(word, "admin");
  EXPECT_EQ(console.Remaining(), "  secret\nrest");
  ASSERT_TRUE(HostConsoleInput().ReadSecretWord(&word, 254));
  EXPECT_EQ(word, "secret");
  EXPECT_EQ(console.Remaining(), "\nrest");
  ASSERT_TRUE(HostConsoleInput().ReadWord(&word, 254));
  EXPECT_EQ(word, "rest");
  EXPECT_FALSE(HostConsoleInput().ReadWord(&word, 254));
  EXPECT_EQ(word, "");
}

TEST(ConsoleInput, LongWordsAreCutAtTheirLimitAndTheRestStays) {
  ScriptedConsole console("abcdefgh\n");
  std::string word;
  ASSERT_TRUE(console.ReadWord(&word, 5));
  EXPECT_EQ(word, "abcde");
  ASSERT_TRUE(console.ReadWord(&word, 5));
  EXPECT_EQ(word, "fgh");
}

TEST(ConsoleInput, LinesKeepTheirEndWhenItFits) {
  ScriptedConsole console("http://10.0.0.1:3128\n" + std::string(70, 'x') + "\n\n");
  std::string line;
  ASSERT_TRUE(console.ReadLine(&line, 63));
  EXPECT_EQ(line, "http://10.0.0.1:3128\n");
  ASSERT_TRUE(console.ReadLine(&line, 63));
  EXPECT_EQ(line, std::string(63, 'x'));
  ASSERT_TRUE(console.ReadLine(&line, 63));
  EXPECT_EQ(line, "xxxxxxx\n");
  ASSERT_TRUE(console.ReadLine(&line, 63));
  EXPECT_EQ(line, "\n");
  EXPECT_FALSE(console.ReadLine(&line, 63));
}

TEST(ConsoleInput, DiscardDropsOnlyTheRestOfALineBegun) {
  ScriptedConsole console("Y\nN\nyes please\nnext\n");
  EXPECT_EQ(console.GetChar(), 'Y');
  console.DiscardTypeAhead();  // the line end after Y
  EXPECT_EQ(console.Remaining(), "N\nyes please\nnext\n");
  EXPECT_EQ(console.GetChar(), 'N');
  EXPECT_EQ(console.GetChar(), '\n');
  console.DiscardTypeAhead();  // nothing begun: the next answer stays
  EXPECT_EQ(console.Remaining(), "yes please\nnext\n");
  std::string word;
  ASSERT_TRUE(console.ReadWord(&word, 254));
  console.DiscardTypeAhead();
  EXPECT_EQ(console.Remaining(), "next\n");
}

TEST(ConsoleInput, DiscardAfterAWordDropsItsLineEnd) {
  ScriptedConsole console("secret\nhttp://proxy:8080\n");
  std::string word, line;
  ASSERT_TRUE(console.ReadSecretWord(&word, 254));
  console.DiscardTypeAhead();
  ASSERT_TRUE(console.ReadLine(&line, 63));
  EXPECT_EQ(line, "http://proxy:8080\n");
  EXPECT_EQ(console.CountRequests("secret"), 1u);
  EXPECT_EQ(console.CountRequests("discard"), 1u);
}

TEST(ConsoleInput, KeysAreSingleBytesAndEndOfInputIsMinusOne) {
  ScriptedConsole console("rR\n");
  EXPECT_EQ(console.GetKey(), 'r');
  EXPECT_EQ(console.GetKey(), 'R');
  EXPECT_EQ(console.GetKey(), '\n');
  EXPECT_EQ(console.GetKey(), -1);
  EXPECT_EQ(console.GetChar(), -1);
  console.DiscardTypeAhead();  // must not hang at the end
  EXPECT_EQ(console.Requests(),
            (std::vector<std::string>{"key", "key", "key", "key", "char", "discard"}));
}

TEST(ConsoleInput, AKeyDoesNotBeginALine) {
  // A key answer followed by the next line's answer: the discard before that answer keeps it.
  ScriptedConsole console("rY\n");
  EXPECT_EQ(console.GetKey(), 'r');
  console.DiscardTypeAhead();
  EXPECT_EQ(console.GetChar(), 'Y');
}

TEST(ConsoleInput, TheLineEndLeftByAWordIsNoKey) {
  // The login answer's line end must not answer the retry question that may follow.
  ScriptedConsole console("root\nrq\nx");
  std::string word;
  ASSERT_TRUE(console.ReadWord(&word, 254));
  EXPECT_EQ(console.GetKey(), 'r');
  EXPECT_EQ(console.GetKey(), 'q');
  EXPECT_EQ(console.GetKey(), '\n');  // typed as a key of its own: a key
  EXPECT_EQ(console.GetChar(), 'x');
  EXPECT_EQ(console.GetKey(), -1);
}

TEST(ConsoleInput, TheScriptIsInstalledOnlyWhileItLives) {
  {
    ScriptedConsole console;
    EXPECT_EQ(&HostConsoleInput(), &console);
  }
  EXPECT_EQ(&HostConsoleInput(), &StandardConsoleInput());
}

}  // namespace
