// Hostile trees: links at the names a run creates or reads, a loop of
// directory links, names with newlines and control characters, and a
// directory that cannot be read in the middle of the tree. No write leaves
// the tree through a link, the walk ends, and every reachable file is
// handled. (Links at a split's member names, entries that are no regular
// files, and paths at the length limit are end-to-end tests already.)
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fixture.h"
#include "invariant.h"

namespace e2e {
namespace {

class Hostile : public E2ETest {};

TEST_F(Hostile, ALoopOfDirectoryLinksEndsTheWalk) {
  const Tree files = {{"a", Pattern(10)}, {"d/b", Pattern(5, 2)}, {"d/e/c", Pattern(7, 3)}};
  MakeTree(root, files);
  ASSERT_EQ(0, symlink("..", (root + "/d/e/up").c_str()));
  ASSERT_EQ(0, symlink(".", (root + "/d/self").c_str()));
  ASSERT_EQ(0, symlink(root.c_str(), (root + "/d/e/root").c_str()));
  ASSERT_EQ(0, symlink("loop2", (root + "/loop1").c_str()));
  ASSERT_EQ(0, symlink("loop1", (root + "/loop2").c_str()));
  RunOptions options;
  options.timeout = std::chrono::seconds(20);
  // The loop of file links cannot be opened; the directory links are not
  // entered.
  EXPECT_RUN(Launch(SplitWords("4"), options),
             kTitle + Splitting(root + "/a", true) + Splitting(root + "/loop1", false) +
                 Splitting(root + "/loop2", false) + Splitting(root + "/d/b", true) +
                 Splitting(root + "/d/e/c", true));
  Tree after = ListTree(root);
  for (const auto& [name, bytes] : files) EXPECT_TRUE(HoldsCompleteSet(after, name, bytes, 4));
  EXPECT_EQ("@link:..", after["d/e/up"]);
  EXPECT_EQ("@link:loop2", after["loop1"]);
  EXPECT_FALSE(Launch(JoinWords(), options).timedOut);
  after = ListTree(root);
  for (const auto& [name, bytes] : files) EXPECT_EQ(bytes, after[name]);
}

TEST_F(Hostile, NamesWithNewlinesAndControlCharactersRoundTrip) {
  const Tree files = {
      {"new\nline", Pattern(9, 1)}, {"\x01\x02\x1b[31m", Pattern(5, 2)},
      {"tab\there", Pattern(4, 3)}, {"cr\r", Pattern(3, 4)},
      {"\x7f.%n%s", Pattern(6, 5)}, {"d\n/x\n.cgi", Pattern(8, 6)},
  };
  MakeTree(root, files);
  for (const char* locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    RunOptions options;
    options.locale = locale;
    const RunResult split = Launch(SplitWords("4"), options);
    EXPECT_EQ(std::string::npos, split.out.find("Failed.")) << split.out;
    Tree after = ListTree(root);
    for (const auto& [name, bytes] : files) EXPECT_TRUE(HoldsCompleteSet(after, name, bytes, 4));
    const RunResult join = Launch(JoinWords(), options);
    EXPECT_EQ(std::string::npos, join.out.find("Failed.")) << join.out;
    EXPECT_TRUE(TreesEqual(Merge({files, {{"d\n/", ""}}}), ListTree(root)));
  }
}

// Links at a join's chunk and temporary names: a chunk that is a link is
// read through it and only the link goes; a link at the temporary name is
// not the join's to replace, whatever its target holds.
TEST_F(Hostile, LinksInASetAreReadButNeverWrittenThrough) {
  const std::string outside = tmp / "outside";
  const Bytes content = "0123456789";
  Tree set = SetOf("a", content, 4);
  MakeTree(root, set);
  WriteFile(outside + "/chunk", set.at("a.001"));
  WriteFile(outside + "/prefix", "0123");
  RemoveAll(root + "/a.001");
  ASSERT_EQ(0, symlink((outside + "/chunk").c_str(), (root + "/a.001").c_str()));
  ASSERT_EQ(0, symlink((outside + "/prefix").c_str(), (root + "/a.~tmp").c_str()));
  const Tree before = ListTree(root);
  EXPECT_RUN(Launch(JoinWords()), kTitle + Joining(root + "/a.cgi", false));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
  RemoveAll(root + "/a.~tmp");
  EXPECT_RUN(Launch(JoinWords()), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", content}}, ListTree(root)));
  EXPECT_TRUE(TreesEqual({{"chunk", "4567"}, {"prefix", "0123"}}, ListTree(outside)));
}

// A directory that cannot be listed: its files are not reached, and the
// walk goes on with the rest of the tree. Root reads any directory, so as
// root the run gives up the capabilities that let it.
TEST_F(Hostile, ADirectoryThatCannotBeReadIsPassedOver) {
  if (CommandOverridden()) GTEST_SKIP() << "needs the built executable";
  MakeTree(root, {{"a", "aaaa"}, {"m/x", "xxxx"}, {"z/y", "yyyy"}});
  ASSERT_EQ(0, chmod((root + "/m").c_str(), 0));
  RunOptions options;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing";
    options.command = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search",
                       ExePath()};
  }
  EXPECT_RUN(Launch(SplitWords("4"), options),
             kTitle + Splitting(root + "/a", true) + Splitting(root + "/z/y", true));
  ASSERT_EQ(0, chmod((root + "/m").c_str(), 0755));
  EXPECT_EQ("xxxx", ReadFile(root + "/m/x"));
  EXPECT_FALSE(Exists(root + "/m/x.cgi"));
}

}  // namespace
}  // namespace e2e
