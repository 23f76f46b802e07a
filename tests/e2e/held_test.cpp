// Two runs on one file keep out of each other's way by what each holds
// open: a split holds its script companion for writing until the source is
// gone, a join holds it for reading until the set is gone. Here another
// process holds the file as the other run would, at the moment that
// matters, on both platforms (on Windows the system's own share modes).
#include "fixture.h"

namespace e2e {
namespace {

class Held : public E2ETest {
 protected:
  void SetUp() override {
    if (!HolderAvailable()) GTEST_SKIP() << "the holding helper is not known";
    E2ETest::SetUp();
  }
  const Bytes content = Pattern(10, 5);
  const Tree set = SetOf("a", content, 4);
};

TEST_F(Held, AJoinDoesNotStartWhileASplitHoldsTheScriptCompanion) {
  MakeTree(root, set);
  {
    Holder split(root + "/a.cgi", "w");
    ASSERT_TRUE(split.held());
    EXPECT_RUN(Launch(JoinWords("a")), kTitle + Joining(root + "/a.cgi", false));
  }
  EXPECT_TRUE(TreesEqual(set, ListTree(root)));
}

TEST_F(Held, ASplitWritesNothingWhileAJoinHoldsTheScriptCompanion) {
  const Tree start = {{"a", content}, {"a.cgi", "the script companion of an older set"}};
  MakeTree(root, start);
  {
    Holder join(root + "/a.cgi", "r");
    ASSERT_TRUE(join.held());
    EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", false));
  }
  EXPECT_TRUE(TreesEqual(start, ListTree(root)));
}

TEST_F(Held, ASplitKeepsASourceThatAnotherRunHoldsBesideItsCompleteSet) {
  MakeTree(root, {{"a", content}});
  {
    Holder reader(root + "/a", "r");
    ASSERT_TRUE(reader.held());
    EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", true));
  }
  EXPECT_TRUE(TreesEqual(Merge({set, {{"a", content}}}), ListTree(root)));
}

// A join that cannot remove the script companion, which another run holds,
// removes nothing of the set; the next join finds the whole file beside the
// whole set and removes the set.
TEST_F(Held, AJoinLeavesTheWholeSetWhenItsScriptCompanionIsHeldAtTheEnd) {
  MakeTree(root, set);
  {
    Holder join(root + "/a.cgi", "r");
    ASSERT_TRUE(join.held());
    EXPECT_RUN(Launch(JoinWords("a")), kTitle + Joining(root + "/a.cgi", true));
  }
  EXPECT_TRUE(TreesEqual(Merge({set, {{"a", content}}}), ListTree(root)));
  EXPECT_RUN(Launch(JoinWords("a")), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", content}}, ListTree(root)));
}

}  // namespace
}  // namespace e2e
