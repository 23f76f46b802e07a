// A run stopped at any moment loses nothing. The seam kills the program
// (SIGKILL) before its n-th file-system call, for every n from 1 until a
// run ends by itself, during the split and during the join of a small tree.
// After each kill every file's bytes stand whole, as the file or as a
// complete set (or both), nothing partial stands at a file's own name, and
// running the same mode again finishes the work.
//
// One state is left for the user: a join stopped while it removes a set,
// after the script companion went (it goes first, so that the rest is never
// taken for a set again). The rest of the set stays beside the whole
// rebuilt file, and no run removes it.
#include <cstdio>
#include <string>

#include "fixture.h"
#include "invariant.h"

namespace e2e {
namespace {

class Kill : public E2ETest {
 protected:
  // The files of the tree: several chunks, one chunk, no chunk, nested.
  const Tree files = {
      {"a.dat", Pattern(10, 1)},
      {"d/b.dat", Pattern(4, 2)},
      {"d/c.dat", ""},
      {"d/e/f.dat", Pattern(9, 3)},
  };
  static constexpr unsigned kSize = 4;

  Tree SplitTree() const {
    Tree all = {{"d/", ""}, {"d/e/", ""}};
    for (const auto& [name, bytes] : files) all = Merge({all, SetOf(name, bytes, kSize)});
    return all;
  }
  Tree JoinedTree() const { return Merge({files, {{"d/", ""}, {"d/e/", ""}}}); }

  // `tree` less what a join stopped while removing sets leaves: members
  // of a set without its script companion, beside the whole rebuilt file.
  Tree WithoutRemnants(Tree tree) const {
    for (const auto& [name, bytes] : files) {
      if (tree.count(name + ".cgi") || !tree.count(name) || tree.at(name) != bytes) continue;
      for (const auto& [member, memberBytes] : SetOf(name, bytes, kSize)) {
        auto found = tree.find(member);
        if (found != tree.end() && found->second == memberBytes) tree.erase(found);
      }
    }
    return tree;
  }

  void ExpectNothingLost(const Tree& tree) {
    for (const auto& [name, bytes] : files) EXPECT_TRUE(NothingLost(tree, name, bytes, kSize));
  }

  // Kills `words` at every call in turn, starting each time from `start`;
  // returns the number of kill points tried.
  unsigned KillAtEveryCall(const std::vector<std::string>& words, const Tree& start,
                           const Tree& finished) {
    unsigned n = 1;
    for (;; ++n) {
      SCOPED_TRACE("killed before call " + std::to_string(n));
      RemoveAll(root);
      MakeTree(root, start);
      RunOptions options;
      options.env.push_back("PARCELOT_FAULTS=kill=" + std::to_string(n));
      const RunResult killed = Launch(words, options);
      if (killed.status == 0) break;  // the run ended before call n
      EXPECT_EQ(-1, killed.status);
      ExpectNothingLost(ListTree(root));
      // The same run again finishes the work.
      const RunResult again = Launch(words);
      EXPECT_EQ(0, again.status);
      EXPECT_EQ(std::string::npos, again.out.find("Failed.")) << again.out;
      const Tree after = ListTree(root);
      if (after != finished) ++remnants;
      EXPECT_TRUE(TreesEqual(finished, WithoutRemnants(after)));
      if (HasFailure()) break;
    }
    EXPECT_TRUE(TreesEqual(finished, ListTree(root)));
    return n - 1;
  }
  unsigned remnants = 0;  // kill points after which the work was not all done
  void Report(const char* mode, unsigned points) {
    RecordProperty("kill_points", static_cast<int>(points));
    std::printf("%s: %u kill points, %u left set members behind\n", mode, points, remnants);
  }
};

TEST_F(Kill, ASplitStoppedAnywhereLosesNothingAndFinishesWhenRunAgain) {
  const unsigned points = KillAtEveryCall(SplitWords("4", "*.dat"), JoinedTree(), SplitTree());
  EXPECT_GT(points, 50u);
  EXPECT_EQ(0u, remnants);
  Report("split", points);
}

TEST_F(Kill, AJoinStoppedAnywhereLosesNothingAndFinishesWhenRunAgain) {
  const unsigned points = KillAtEveryCall(JoinWords("*.dat"), SplitTree(), JoinedTree());
  EXPECT_GT(points, 50u);
  Report("join", points);
}

}  // namespace
}  // namespace e2e
