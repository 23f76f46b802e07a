// Runs at the same time on the same tree: two splits, and a split beside a
// join. Whatever the interleaving, every file's bytes stand whole as the
// file or as a complete set, and a later run finishes the work. (A file that
// another process appends to while it is split is the end-to-end test
// Split.ASourceThatGrowsWhileItIsSplitIsKept.)
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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

// Two runs on the same file, interleaved at every point: the first run is
// stopped before its n-th file-system call, for every n in turn, while the
// second runs from start to end; then the first goes on. After both, the
// file's bytes stand whole at its name or as its set, and a join then gives
// back the file and nothing else.
class Interleaved : public E2ETest {
 protected:
  const Bytes content = Pattern(10, 7);
  const std::string name = "a.dat";
  TempDir marks;  // outside the tree, where the stopped run says who it is

  struct Case {
    const char* what;
    std::vector<std::string> first;
    std::vector<std::string> second;
    Tree start;
  };

  // The second run's result is not checked: it may fail, since the file is
  // busy, but it must neither hang nor lose anything.
  void Interleave(const Case& c) {
    const bool failedBefore = HasFailure();
    unsigned leftovers = 0;
    unsigned n = 1;
    for (;; ++n) {
      SCOPED_TRACE(std::string(c.what) + ", the first stopped before call " + std::to_string(n));
      RemoveAll(root);
      MakeTree(root, c.start);
      const std::string mark = marks / ("stop" + std::to_string(n));
      RunOptions options;
      options.env.push_back("PARCELOT_FAULTS=stop=" + std::to_string(n) + ":" + mark);
      std::atomic<bool> ended{false};
      RunResult first;
      std::thread runner([&] {
        first = Launch(c.first, options);
        ended = true;
      });
      long pid = 0;
      while (!ended && pid == 0) {
        Bytes text = Exists(mark) ? ReadFile(mark) : "";
        if (!text.empty() && text.back() == '\n') pid = std::stol(text);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (pid != 0) {
        const RunResult second = Launch(c.second);
        EXPECT_FALSE(second.timedOut);
        EXPECT_EQ(0, second.status);
        kill(static_cast<pid_t>(pid), SIGCONT);
      }
      runner.join();
      std::remove(mark.c_str());
      EXPECT_FALSE(first.timedOut);
      EXPECT_EQ(0, first.status) << first.err;
      if (pid == 0) break;  // the first run ended before call n

      const Tree after = ListTree(root);
      // The set, if that is where the bytes stand, is one run's whole set:
      // chunks of 3 bytes or chunks of 4.
      EXPECT_TRUE(NothingLost(after, name, content, 3) || NothingLost(after, name, content, 4))
          << Describe(after);
      // A join then gives the file back. Beside it may stand what a split
      // that failed for the busy file leaves (a set of a shorter file),
      // which a join does not take for the file's set.
      Launch(JoinWords("*.dat"));
      Tree rest = ListTree(root);
      if (rest.size() > 1) {
        ++leftovers;
        EXPECT_TRUE(LeftByAFailedSplit(rest, name, content, 3, scriptBytes, headerBytes) ||
                    LeftByAFailedSplit(rest, name, content, 4, scriptBytes, headerBytes))
            << Describe(rest);
        rest.erase(name + ".cgi");
        rest.erase(name + ".mime");
        for (unsigned i = 0; i < 4; ++i) rest.erase(name + ChunkSuffix(".%03u", i));
      }
      EXPECT_TRUE(TreesEqual({{name, content}}, rest));
      if (HasFailure() && !failedBefore) break;
    }
    EXPECT_GT(n, 20u);
    std::printf("%s: %u interleavings, %u left a failed split's members\n", c.what, n - 1,
                leftovers);
  }
};

TEST_F(Interleaved, TwoSplitsOfOneFileWithOtherChunkSizes) {
  Interleave({"a split into 3-byte chunks beside one into 4",
              SplitWords("3", "*.dat"),
              SplitWords("4", "*.dat"),
              {{name, content}}});
  Interleave({"a split into 4-byte chunks beside one into 3",
              SplitWords("4", "*.dat"),
              SplitWords("3", "*.dat"),
              {{name, content}}});
}

TEST_F(Interleaved, ASplitAndAJoinOfOneFile) {
  const Tree set = SetOf(name, content, 4);
  Interleave(
      {"a split beside a join", SplitWords("3", "*.dat"), JoinWords("*.dat"), {{name, content}}});
  Interleave({"a split beside a join of an earlier set of the file", SplitWords("3", "*.dat"),
              JoinWords("*.dat"), Merge({{{name, content}}, set})});
  Interleave({"a join beside a split", JoinWords("*.dat"), SplitWords("3", "*.dat"), set});
}

TEST_F(Interleaved, TwoJoinsOfOneSet) {
  Interleave({"two joins", JoinWords("*.dat"), JoinWords("*.dat"), SetOf(name, content, 4)});
}

}  // namespace
}  // namespace e2e
