// Faults on real files and through the fault-injection seam: a full disk, a
// chunk that cannot be created, a companion that cannot be copied, reads,
// flushes, moves and removals that fail. After each the run prints
// "Failed." for the file, and the tree holds what a failure leaves: a failed
// split keeps its source beside a set of a shorter file, a failed join keeps
// its set and leaves nothing at the base path or the temporary name.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fixture.h"
#include "invariant.h"

namespace e2e {
namespace {

class Faults : public E2ETest {
 protected:
  // Runs the program with PARCELOT_FAULTS set to `faults`.
  RunResult RunWithFaults(const std::vector<std::string>& words, const std::string& faults,
                          RunOptions options = {}) {
    options.env.push_back("PARCELOT_FAULTS=" + faults);
    return Launch(words, options);
  }
};

// 10 bytes in chunks of 4: a.000, a.001, a.002.
const Bytes kContent = "0123456789";

// Faults during a split, through the seam. The calls of one split of "a",
// in order: the source's open; the script file's open, the companion's
// open, its copy, its mode; the same for the header; then per chunk its open
// (create) and write, each after one read of the source; then the flushes.
TEST_F(Faults, ASplitThatFailsKeepsItsSourceBesideASetOfAShorterFile) {
  struct Case {
    const char* what;
    const char* faults;
    int companions;  // how many stand afterwards
  };
  const Case cases[] = {
      {"the source cannot be opened", "fail=open:1:EACCES", 0},
      {"the script companion cannot be created", "fail=open:3:EACCES", 0},
      {"the script companion's copy fails", "fail=copy:1:EIO", 0},
      {"the header companion cannot be created", "fail=open:5:ENOSPC", 1},
      {"the header companion's copy fails", "fail=copy:2:ENOSPC", 1},
      {"chunk 1 cannot be created", "fail=open:7:EACCES", 2},
      {"chunk 1 cannot be written", "fail=write:2:ENOSPC", 2},
      {"the first read of the source fails", "fail=read:1:EIO", 2},
      {"the second read of the source fails", "fail=read:2:EIO", 2},
      {"the last read of the source fails", "fail=read:4:EIO", 2},
      {"the first flush fails", "fail=sync:1:EIO", 2},
      {"a later flush fails", "fail=sync:5:EIO", 2},
      {"every flush fails", "fail=sync:1+:EIO", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveAll(root);
    WriteFile(root + "/a", kContent);
    EXPECT_RUN(RunWithFaults(SplitWords("4", "a"), c.faults),
               kTitle + Splitting(root + "/a", false));
    const Tree after = ListTree(root);
    EXPECT_TRUE(LeftByAFailedSplit(after, "a", kContent, 4, scriptBytes, headerBytes, c.companions))
        << Describe(after);
  }
}

// A source that cannot be removed after a complete split stays beside its
// set; the split still succeeded.
TEST_F(Faults, ASourceThatCannotBeRemovedStaysBesideItsCompleteSet) {
  WriteFile(root + "/a", kContent);
  EXPECT_RUN(RunWithFaults(SplitWords("4", "a"), "fail=unlink:1:EBUSY"),
             kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(Merge({SetOf("a", kContent, 4), {{"a", kContent}}}), ListTree(root)));
}

// Faults during a join, through the seam: the set stays whole, nothing
// stands at the base path, and the temporary file is gone.
TEST_F(Faults, AJoinThatFailsKeepsItsSetAndLeavesNothingBehind) {
  const Tree set = SetOf("a", kContent, 4);
  const char* const cases[] = {
      "fail=open:3:EACCES",   // the temporary file cannot be created
      "fail=read:2:EIO",      // chunk 1 cannot be read
      "fail=write:3:ENOSPC",  // chunk 2 cannot be written
      "fail=sync:1:EIO",      // the rebuilt file cannot be flushed
      "fail=sync:2:EIO",      // its directory cannot be flushed
      "fail=rename:1:EXDEV",  // it cannot be moved to the base path
      "fail=sync:3:EIO",      // the move cannot be flushed: the file is in place
  };
  for (const char* faults : cases) {
    SCOPED_TRACE(faults);
    RemoveAll(root);
    MakeTree(root, set);
    const RunResult result = RunWithFaults(JoinWords(), faults);
    EXPECT_RUN(result, kTitle + Joining(root + "/a.cgi", false));
    const Tree after = ListTree(root);
    // A move that stands but whose flush failed leaves the whole file in
    // place beside the whole set; the next join finds it and removes the set.
    if (after.count("a")) {
      EXPECT_TRUE(TreesEqual(Merge({set, {{"a", kContent}}}), after));
      EXPECT_RUN(Launch(JoinWords()), kTitle + Joining(root + "/a.cgi", true));
      EXPECT_TRUE(TreesEqual({{"a", kContent}}, ListTree(root)));
    } else {
      EXPECT_TRUE(TreesEqual(set, after));
    }
  }
}

// A file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored by the program) makes
// every write past it fail as a full disk does.
TEST_F(Faults, AFileSizeLimitFailsTheChunkOrTheRebuiltFileBeingWritten) {
  if (CommandOverridden()) GTEST_SKIP() << "needs the built executable";
  auto limited = [](const std::string& bytes) {
    RunOptions options;
    options.command = {"/usr/bin/prlimit", "--fsize=" + bytes, ExePath()};
    return options;
  };
  const Bytes content = Pattern(30000);

  // Split: each chunk of 8192 bytes is over the limit of 5000.
  WriteFile(root + "/a", content);
  EXPECT_RUN(Launch(SplitWords("8192", "a"), limited("5000")),
             kTitle + Splitting(root + "/a", false));
  EXPECT_TRUE(TreesEqual({{"a", content}, {"a.cgi", scriptBytes}, {"a.mime", headerBytes}},
                         ListTree(root)));

  // A header file over the limit: its companion cannot be copied whole, and
  // no partial copy stays.
  RemoveAll(root);
  WriteFile(root + "/a", content);
  WriteFile(header, Pattern(9000, 7));
  EXPECT_RUN(Launch(SplitWords("4096", "a"), limited("5000")),
             kTitle + Splitting(root + "/a", false));
  EXPECT_TRUE(TreesEqual({{"a", content}, {"a.cgi", scriptBytes}}, ListTree(root)));
  WriteFile(header, headerBytes);

  // Join: the chunks are under the limit, the rebuilt file is not.
  RemoveAll(root);
  const Tree set = SetOf("a", content, 4096);
  MakeTree(root, set);
  EXPECT_RUN(Launch(JoinWords(), limited("20000")), kTitle + Joining(root + "/a.cgi", false));
  EXPECT_TRUE(TreesEqual(set, ListTree(root)));
}

// A small file system that fills up: ENOSPC while a chunk is written, and
// while the rebuilt file is written. Needs the right to mount.
class FullDisk : public Faults {
 protected:
  void SetUp() override {
    Faults::SetUp();
    disk = tmp / "disk";
    MakeDirs(disk);
    if (mount("parcelot-test", disk.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
      GTEST_SKIP() << "cannot mount a small file system here";
    }
    mounted = true;
  }
  void TearDown() override {
    if (mounted) umount2(disk.c_str(), MNT_DETACH);
  }
  std::string disk;
  bool mounted = false;
};

TEST_F(FullDisk, ASplitThatFillsTheDiskKeepsItsSource) {
  // 64 KiB in all: a source of 24 KiB, and chunks that cannot all fit.
  const Bytes content = Pattern(24 * 1024, 3);
  WriteFile(disk + "/a", content);
  WriteFile(disk + "/filler", Bytes(20 * 1024, 'f'));
  EXPECT_RUN(Launch(SplitWords("8192", "a", ".%03u", disk)),
             kTitle + Splitting(disk + "/a", false));
  Tree after = ListTree(disk);
  after.erase("filler");
  EXPECT_EQ(content, after["a"]);
  EXPECT_TRUE(LeftByAFailedSplit(after, "a", content, 8192, scriptBytes, headerBytes))
      << Describe(after);
}

TEST_F(FullDisk, AJoinThatFillsTheDiskKeepsItsSet) {
  const Bytes content = Pattern(24 * 1024, 4);
  const Tree set = SetOf("a", content, 8192);
  MakeTree(disk, set);
  WriteFile(disk + "/filler", Bytes(24 * 1024, 'f'));
  EXPECT_RUN(Launch(JoinWords("*", ".%03u", disk)), kTitle + Joining(disk + "/a.cgi", false));
  EXPECT_TRUE(TreesEqual(Merge({set, {{"filler", Bytes(24 * 1024, 'f')}}}), ListTree(disk)));
}

}  // namespace
}  // namespace e2e
