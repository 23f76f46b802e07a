// Runs at the same time on the same tree: two splits, and a split beside a
// join. Whatever the interleaving, every file's bytes stand whole as the
// file or as a complete set, and a later run finishes the work. (A file that
// another process appends to while it is split is the end-to-end test
// Split.ASourceThatGrowsWhileItIsSplitIsKept.)
#include <string>
#include <thread>

#include "fixture.h"
#include "invariant.h"

namespace e2e {
namespace {

class Concurrent : public E2ETest {
 protected:
  // Enough files and chunks that two runs overlap for a while.
  Tree Sources(const std::string& extension) const {
    Tree tree;
    for (unsigned i = 0; i < 12; ++i) {
      tree["f" + std::to_string(i) + extension] = Pattern(3000 + 700 * i, i);
      tree["d/g" + std::to_string(i) + extension] = Pattern(500 * i, 100 + i);
    }
    return tree;
  }

  static void RunBoth(const std::vector<std::string>& first,
                      const std::vector<std::string>& second) {
    RunResult a, b;
    std::thread other([&] { b = Launch(second); });
    a = Launch(first);
    other.join();
    for (const RunResult* r : {&a, &b}) {
      EXPECT_EQ(0, r->status);
      EXPECT_FALSE(r->timedOut);
      EXPECT_EQ("", r->err);
    }
  }
};

TEST_F(Concurrent, TwoSplitsOfOneTreeLoseNothing) {
  const Tree sources = Sources(".dat");
  {
    for (int round = 0; round < 5; ++round) {
      RemoveAll(root);
      MakeTree(root, sources);
      RunBoth(SplitWords("256", "*.dat"), SplitWords("256", "*.dat"));
      const Tree after = ListTree(root);
      for (const auto& [name, bytes] : sources) {
        if (!NothingLost(after, name, bytes, 256)) {
          Tree members;
          for (const auto& [k, v] : after)
            if (k.rfind(name, 0) == 0) members[k] = v;
          ADD_FAILURE() << name << " (" << bytes.size() << " bytes) lost:\n" << Describe(members);
        }
      }
      // A split of what is left, then a join, gives the tree back.
      Launch(SplitWords("256", "*.dat"));
      EXPECT_EQ(std::string::npos, Launch(JoinWords("*.dat")).out.find("Failed."));
      EXPECT_TRUE(TreesEqual(Merge({sources, {{"d/", ""}}}), ListTree(root)));
      if (HasFailure()) return;
    }
  }
}

TEST_F(Concurrent, ASplitBesideAJoinInTheSameDirectoriesLosesNothing) {
  const Tree toSplit = Sources(".dat");
  const Tree toJoinFiles = Sources(".bin");
  Tree toJoin;
  for (const auto& [name, bytes] : toJoinFiles) toJoin = Merge({toJoin, SetOf(name, bytes, 256)});
  for (int round = 0; round < 5; ++round) {
    RemoveAll(root);
    MakeTree(root, Merge({toSplit, toJoin}));
    RunBoth(SplitWords("256", "*.dat"), JoinWords("*.bin"));
    Tree expected = Merge({toJoinFiles, {{"d/", ""}}});
    for (const auto& [name, bytes] : toSplit) expected = Merge({expected, SetOf(name, bytes, 256)});
    EXPECT_TRUE(TreesEqual(expected, ListTree(root)));
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace e2e
