// Splitting one file: the set it leaves, and what it leaves when it cannot
// finish. A source is removed only once its whole set stands on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "fixture.h"

namespace e2e {
namespace {

class Split : public E2ETest {};

TEST_F(Split, ChunksHoldTheSourceInPiecesOfTheChunkSize) {
  struct Case {
    size_t length;
    unsigned size;
  };
  // Empty; shorter than a chunk; one byte short of, exactly, one byte past
  // a chunk; exactly three chunks; one byte per chunk.
  const Case cases[] = {{0, 4}, {3, 4}, {7, 8}, {8, 8}, {9, 8}, {12, 4}, {10, 4}, {5, 1}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length) + ", size " + std::to_string(c.size));
    const std::string dir = root + "/" + std::to_string(n++);
    const Bytes content = Pattern(c.length, static_cast<unsigned>(n));
    WriteFile(dir + "/f", content);
    EXPECT_RUN(Launch(SplitWords(std::to_string(c.size), "f", ".%03u", dir)),
               kTitle + Splitting(dir + "/f", true));
    EXPECT_TRUE(TreesEqual(SetOf("f", content, c.size), ListTree(dir)));
  }
}

TEST_F(Split, ASplitOverAnOlderLongerSetCutsItAfterTheNewLastChunk) {
  MakeTree(root, {{"a.cgi", "old script"},
                  {"a.mime", "old header"},
                  {"a.000", "o0"},
                  {"a.001", "o1"},
                  {"a.002", "o2"},
                  {"a.003", "o3"},
                  {"a.004", "o4"},
                  {"a", "NEW!"}});
  EXPECT_RUN(Launch(SplitWords("2", "a")), kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(Merge({SetOf("a", "NEW!", 2), {{"a.003", "o3"}, {"a.004", "o4"}}}),
                         ListTree(root)));
}

// A source that another process appends to while it is split is kept whole,
// with what was appended. One-byte chunks, each flushed to disk, keep the
// split busy long after its first chunk appears; the append comes then.
TEST_F(Split, ASourceThatGrowsWhileItIsSplitIsKept) {
  // Windows refuses the append (the split holds the source with read
  // sharing only), but Wine does not enforce share modes on Linux processes.
  POSIX_ONLY("Wine lets a Linux process append to a file held with read sharing only");
  const std::string source = root + "/a";
  const Bytes content = Pattern(1000);
  WriteFile(source, content);
  RunResult result;
  std::thread run([&] { result = Launch(SplitWords("1", "a")); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Exists(root + "/a.000") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int fd = open(source.c_str(), O_WRONLY | O_APPEND);
  if (fd < 0) {
    run.join();
    GTEST_SKIP() << "the split ended before the append; this machine was too fast to race it";
  }
  EXPECT_EQ(4, write(fd, "more", 4));
  close(fd);
  run.join();
  EXPECT_RUN(result, kTitle + Splitting(source, false));
  EXPECT_EQ(content + "more", ReadFile(source));
}

TEST_F(Split, AReadOnlySourceIsSplitAndKept) {
  WriteFile(root + "/a", "read only", 0444);
  EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(
      TreesEqual(Merge({SetOf("a", "read only", 4), {{"a", "read only"}}}), ListTree(root)));
  struct stat st;
  ASSERT_EQ(0, stat((root + "/a").c_str(), &st));
  EXPECT_EQ(0444u, st.st_mode & 07777u);
}

// A read-only script or header gives companions that the split can flush
// and a join can remove (Windows' copy would carry the read-only attribute).
TEST_F(Split, ReadOnlyCopiedFilesGiveWritableCompanions) {
  WriteFile(script, scriptBytes, 0444);
  WriteFile(header, headerBytes, 0444);
  WriteFile(root + "/a", "abcdef");
  EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(SetOf("a", "abcdef", 4), ListTree(root)));
  // A second split over the same companions replaces them.
  WriteFile(root + "/a", "abcdef");
  EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", true));
  EXPECT_RUN(Launch(JoinWords("a")), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", "abcdef"}}, ListTree(root)));
}

TEST_F(Split, CompanionsTakeTheCopiedFilesModesPlusTheOwnersWriteBit) {
  POSIX_ONLY("permission bits");
  WriteFile(script, scriptBytes, 0755);
  WriteFile(header, headerBytes, 0444);
  WriteFile(root + "/a", "abc");
  RunOptions options;
  options.umask = 077;  // plays no part
  EXPECT_RUN(Launch(SplitWords("4", "a"), options), kTitle + Splitting(root + "/a", true));
  struct stat st;
  ASSERT_EQ(0, stat((root + "/a.cgi").c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 07777u);
  ASSERT_EQ(0, stat((root + "/a.mime").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 07777u);
}

TEST_F(Split, ASourceOpenForWritingElsewhereIsNotSplit) {
  POSIX_ONLY("read leases");
  const std::string source = root + "/a";
  WriteFile(source, "being written");
  {
    // The program can tell only where the system grants read leases.
    int probe = open(source.c_str(), O_RDONLY);
    ASSERT_GE(probe, 0);
    const bool leases = fcntl(probe, F_SETLEASE, F_RDLCK) == 0;
    if (leases) fcntl(probe, F_SETLEASE, F_UNLCK);
    close(probe);
    if (!leases) GTEST_SKIP() << "this file system grants no read lease on " << source;
  }
  int writer = open(source.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(writer, 0);
  EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", false));
  EXPECT_TRUE(TreesEqual({{"a", "being written"}}, ListTree(root)));
  close(writer);
}

// Entries standing at the names that a split creates. Whatever stands
// there, the source's bytes are never lost and nothing outside is written.
TEST_F(Split, LinksAndDirectoriesAtMemberNamesFailTheSplit) {
  POSIX_ONLY("symbolic links");
  const Bytes content = "0123456789";  // chunks a.000, a.001, a.002
  const std::string target = tmp / "outside/target";
  const std::string nowhere = tmp / "outside/nowhere";
  enum Kind { kSymlink, kDangling, kHardLinkToSource, kDirectory };
  struct Case {
    const char* member;
    Kind kind;
  };
  const Case cases[] = {
      {"a.cgi", kSymlink},          {"a.mime", kSymlink},         {"a.000", kSymlink},
      {"a.001", kSymlink},          {"a.002", kSymlink},          {"a.cgi", kDangling},
      {"a.mime", kDangling},        {"a.000", kDangling},         {"a.002", kDangling},
      {"a.000", kHardLinkToSource}, {"a.001", kHardLinkToSource}, {"a.002", kHardLinkToSource},
      {"a.cgi", kDirectory},        {"a.mime", kDirectory},       {"a.001", kDirectory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.member) + " kind " + std::to_string(c.kind));
    RemoveAll(root);
    RemoveAll(tmp / "outside");
    WriteFile(target, "precious");
    WriteFile(root + "/a", content);
    const std::string member = root + "/" + c.member;
    if (c.kind == kSymlink)
      ASSERT_EQ(0, symlink(target.c_str(), member.c_str()));
    else if (c.kind == kDangling)
      ASSERT_EQ(0, symlink(nowhere.c_str(), member.c_str()));
    else if (c.kind == kHardLinkToSource)
      ASSERT_EQ(0, link((root + "/a").c_str(), member.c_str()));
    else
      MakeDirs(member);

    EXPECT_RUN(Launch(SplitWords("4", "a")), kTitle + Splitting(root + "/a", false));
    EXPECT_EQ(content, ReadFile(root + "/a"));
    EXPECT_TRUE(TreesEqual({{"target", "precious"}}, ListTree(tmp / "outside")));
  }
}

TEST_F(Split, HardLinksToTheSourceAtCompanionNamesLoseNothing) {
  const Bytes content = "0123456789";
  for (const char* member : {"a.cgi", "a.mime"}) {
    SCOPED_TRACE(member);
    RemoveAll(root);
    WriteFile(root + "/a", content);
    ASSERT_EQ(0, link((root + "/a").c_str(), (root + "/" + member).c_str()));
    const RunResult result = Launch(SplitWords("4", "a"));
    if (result.out == kTitle + Splitting(root + "/a", false)) {
      EXPECT_EQ(content, ReadFile(root + "/a"));
    } else {
      // Replacing the link with a new file is just as sound.
      EXPECT_RUN(result, kTitle + Splitting(root + "/a", true));
      EXPECT_TRUE(TreesEqual(SetOf("a", content, 4), ListTree(root)));
    }
  }
}

TEST_F(Split, AHeaderFileThatIsTheCompanionItselfIsNotEmptied) {
  MakeTree(root, {{"a", "source"}, {"a.mime", "Content-Type: a/b\n"}});
  EXPECT_RUN(Launch({"-s", root, "a", "4", root + "/a.mime", script}),
             kTitle + Splitting(root + "/a", false));
  EXPECT_EQ("source", ReadFile(root + "/a"));
  EXPECT_EQ("Content-Type: a/b\n", ReadFile(root + "/a.mime"));
  EXPECT_FALSE(Exists(root + "/a.000"));
}

TEST_F(Split, UnusableScriptOrHeaderFilesFailEachSplit) {
  const std::string missing = tmp / "aux/missing";
  const std::string fifo = tmp / "aux/fifo";
  const std::string dir = tmp / "aux";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  struct Case {
    std::string header, script;
    bool scriptCompanionStays;
  };
  const Case cases[] = {
      {missing, script, true},  {fifo, script, true},  {dir, script, true},
      {header, missing, false}, {header, fifo, false}, {header, dir, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("header " + c.header + ", script " + c.script);
    RemoveAll(root);
    MakeTree(root, {{"a", "0123456789"}, {"b", "bb"}});
    // Each file fails in turn; the walk goes on.
    EXPECT_RUN(Launch({"-s", root, "*", "4", c.header, c.script}),
               kTitle + Splitting(root + "/a", false) + Splitting(root + "/b", false));
    Tree expected = {{"a", "0123456789"}, {"b", "bb"}};
    if (c.scriptCompanionStays) {
      expected["a.cgi"] = scriptBytes;
      expected["b.cgi"] = scriptBytes;
    }
    EXPECT_TRUE(TreesEqual(expected, ListTree(root)));
  }
}

TEST_F(Split, AFifoAtAChunkNameFailsTheSplitWithoutBlocking) {
  WriteFile(root + "/a", "0123456789");
  ASSERT_EQ(0, mkfifo((root + "/a.001").c_str(), 0644));
  RunOptions options;
  options.timeout = std::chrono::seconds(10);
  EXPECT_RUN(Launch(SplitWords("4", "a"), options), kTitle + Splitting(root + "/a", false));
  EXPECT_EQ("0123456789", ReadFile(root + "/a"));
}

TEST_F(Split, ExistingMembersOfSetsAreFilesLikeAnyOther) {
  MakeTree(root, {{"b.cgi", "s"}, {"b.mime", "h"}, {"b.000", "chunk"}});
  EXPECT_RUN(Launch(SplitWords("4", "b.*")), kTitle + Splitting(root + "/b.000", true) +
                                                 Splitting(root + "/b.cgi", true) +
                                                 Splitting(root + "/b.mime", true));
  EXPECT_TRUE(TreesEqual(
      Merge({SetOf("b.000", "chunk", 4), SetOf("b.cgi", "s", 4), SetOf("b.mime", "h", 4)}),
      ListTree(root)));
}

}  // namespace
}  // namespace e2e
