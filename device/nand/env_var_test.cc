#include "device/nand/env_var.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const EnvVar* first) {
  std::vector<std::string> names;
  for (const EnvVar* r = first; r != nullptr; r = r->next) names.push_back(r->name ? r->name : "(none)");
  return names;
}

// Builds head a=1, b=2, c=3, d=4.
void Build(EnvVar* head) {
  EnvVarClear(head);
  ASSERT_TRUE(EnvVarAssign(head, "a", "1"));
  const char* names[] = {"b", "c", "d"};
  const char* values[] = {"2", "3", "4"};
  for (int i = 0; i < 3; ++i) {
    EnvVar* r = EnvVarNew();
    ASSERT_TRUE(EnvVarAssign(r, names[i], values[i]));
    EnvVarAppend(head, r);
  }
}

TEST(EnvVar, AppendLinksAfterTheLastRecordFromAnyRecord) {
  EnvVar head;
  Build(&head);
  EnvVar* e = EnvVarNew();
  ASSERT_TRUE(EnvVarAssign(e, "e", "5"));
  EnvVarAppend(head.next->next, e);  // from the middle of the list
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e"}), Names(&head));
  EXPECT_EQ(head.next->next->next, e->prev);
  for (EnvVar* r = head.next; r != nullptr; r = r->next) EXPECT_EQ(r, r->prev->next);
  EnvVarDestroy(&head);
}

TEST(EnvVar, AssignGivesFreshCopiesAndFindTakesTheFirst) {
  EnvVar head;
  Build(&head);
  std::string name = "c", value = "new";
  EXPECT_TRUE(EnvVarAssign(head.next->next, name.c_str(), value.c_str()));
  name[0] = 'x';
  value[0] = 'x';
  EXPECT_STREQ("c", head.next->next->name);
  EXPECT_STREQ("new", head.next->next->value);
  EnvVar* dup = EnvVarNew();
  ASSERT_TRUE(EnvVarAssign(dup, "b", "second"));
  EnvVarAppend(&head, dup);
  EXPECT_STREQ("2", EnvVarFind(&head, "b")->value);
  EXPECT_EQ(nullptr, EnvVarFind(&head, "B"));
  EnvVar empty;
  EnvVarClear(&empty);
  EXPECT_EQ(nullptr, EnvVarFind(&empty, "a"));  // a nameless head matches nothing
  EnvVarDestroy(&head);
}

TEST(EnvVar, UnlinkJoinsTheNeighbours) {
  EnvVar head;
  Build(&head);
  EnvVarUnlink(head.next->next);  // c
  EXPECT_EQ((std::vector<std::string>{"a", "b", "d"}), Names(&head));
  EXPECT_EQ(head.next, head.next->next->prev);
  EnvVarUnlink(head.next->next);  // d, the last
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Names(&head));
  EXPECT_EQ(nullptr, head.next->next);
  EnvVarDestroy(&head);
}

TEST(EnvVar, DestroyReleasesTheRestAndCutsThePredecessor) {
  EnvVar head;
  Build(&head);
  EnvVar* c = head.next->next;
  EnvVarDestroy(c);  // releases d, clears c's texts and b's next link
  EXPECT_EQ(nullptr, head.next->next);
  free(c);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Names(&head));
  EnvVarDestroy(&head);
  EXPECT_EQ(nullptr, head.name);
  EXPECT_EQ(nullptr, head.value);
  EXPECT_EQ(nullptr, head.next);

  // A long list goes without deep recursion.
  EnvVarClear(&head);
  ASSERT_TRUE(EnvVarAssign(&head, "x", "y"));
  EnvVar* last = &head;
  for (int i = 0; i < 200000; ++i) {
    EnvVar* r = EnvVarNew();
    ASSERT_TRUE(EnvVarAssign(r, "n", "v"));
    EnvVarAppend(last, r);
    last = r;
  }
  EnvVarDestroy(&head);
  EXPECT_EQ(nullptr, head.next);
}

}  // namespace
