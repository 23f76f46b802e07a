// Joining one set: where its chunks end, and what a join that cannot finish
// leaves (the set whole, nothing at the base path, no temporary file).
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "fixture.h"

namespace e2e {
namespace {

class Join : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    MakeTree(root, set);
  }
  // A set of three chunks of 4, 4 and 2 bytes.
  const Tree set = SetOf("a", "0123456789", 4);
};

TEST_F(Join, RebuildsTheFileAndRemovesTheSet) {
  EXPECT_RUN(Launch(JoinWords()), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", "0123456789"}}, ListTree(root)));
}

TEST_F(Join, WhereTheChunksEnd) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    std::string pattern;
    Bytes rebuilt;
    Tree stays;
  };
  const Case cases[] = {
      {"chunk 2 missing, chunk 3 present",
       [](const std::string& r) {
         RemoveAll(r + "/a.002");
         WriteFile(r + "/a.003", "3333");
       },
       ".%03u",
       "01234567",
       {{"a.003", "3333"}}},
      {"chunk 0 missing",
       [](const std::string& r) { RemoveAll(r + "/a.000"); },
       ".%03u",
       "",
       {{"a.001", "4567"}, {"a.002", "89"}}},
      {"no chunk at all",
       [](const std::string& r) {
         for (const char* c : {"/a.000", "/a.001", "/a.002"}) RemoveAll(r + c);
       },
       ".%03u",
       "",
       {}},
      {"a FIFO at chunk 1",
       [](const std::string& r) {
         RemoveAll(r + "/a.001");
         ASSERT_EQ(0, mkfifo((r + "/a.001").c_str(), 0644));
       },
       ".%03u",
       "0123",
       {{"a.001", "@special"}, {"a.002", "89"}}},
      {"a directory at chunk 1",
       [](const std::string& r) {
         RemoveAll(r + "/a.001");
         MakeDirs(r + "/a.001");
       },
       ".%03u",
       "0123",
       {{"a.001/", ""}, {"a.002", "89"}}},
      // Another pattern than the split's finds no chunk 0: the join makes an
      // empty file and leaves the chunks.
      {"another pattern",
       [](const std::string&) {},
       ".%d",
       "",
       {{"a.000", "0123"}, {"a.001", "4567"}, {"a.002", "89"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (WindowsTarget() && std::string(c.what).find("FIFO") != std::string::npos) continue;
    RemoveAll(root);
    MakeTree(root, set);
    c.change(root);
    EXPECT_RUN(Launch(JoinWords("*", c.pattern)), kTitle + Joining(root + "/a.cgi", true));
    EXPECT_TRUE(TreesEqual(Merge({c.stays, {{"a", c.rebuilt}}}), ListTree(root)));
  }
}

TEST_F(Join, AJoinThatCannotFinishLeavesEverythingAsItWas) {
  const std::string nowhere = tmp / "nowhere";
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
  };
  const Case cases[] = {
      {"a file at the base path",
       [](const std::string& r) { WriteFile(r + "/a", "the user's file"); }},
      {"an empty file at the base path", [](const std::string& r) { WriteFile(r + "/a", ""); }},
      {"a dangling link at the base path",
       [&](const std::string& r) { ASSERT_EQ(0, symlink(nowhere.c_str(), (r + "/a").c_str())); }},
      {"a directory at the base path", [](const std::string& r) { MakeDirs(r + "/a"); }},
      {"an empty chunk in the middle", [](const std::string& r) { WriteFile(r + "/a.001", ""); }},
      {"no header companion", [](const std::string& r) { RemoveAll(r + "/a.mime"); }},
      {"a directory as header companion",
       [](const std::string& r) {
         RemoveAll(r + "/a.mime");
         MakeDirs(r + "/a.mime");
       }},
      {"a FIFO as header companion",
       [](const std::string& r) {
         RemoveAll(r + "/a.mime");
         ASSERT_EQ(0, mkfifo((r + "/a.mime").c_str(), 0644));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // FIFOs and symbolic links are POSIX's.
    const std::string what = c.what;
    if (WindowsTarget() && (what.find("FIFO") != what.npos || what.find("link") != what.npos))
      continue;
    RemoveAll(root);
    MakeTree(root, set);
    c.change(root);
    const Tree before = ListTree(root);
    EXPECT_RUN(Launch(JoinWords()), kTitle + Joining(root + "/a.cgi", false));
    EXPECT_TRUE(TreesEqual(before, ListTree(root)));
    EXPECT_FALSE(Exists(nowhere));
  }
}

// A chunk of 2^32 bytes or more does not fit the 32-bit size of a chunk: the
// join fails before anything of the set is removed, instead of joining part
// of that chunk. The chunk is sparse, so the test writes almost nothing.
TEST_F(Join, AChunkOf4GiBOrMoreFailsTheJoin) {
  const std::string big = root + "/a.001";
  const off_t size = (off_t{1} << 32) + 4;
  ASSERT_EQ(0, truncate(big.c_str(), size));
  EXPECT_RUN(Launch(JoinWords()), kTitle + Joining(root + "/a.cgi", false));
  struct stat st;
  ASSERT_EQ(0, stat(big.c_str(), &st));
  EXPECT_EQ(size, st.st_size);
  for (const char* member : {"/a.cgi", "/a.mime", "/a.000", "/a.002"}) {
    EXPECT_TRUE(Exists(root + member)) << member;
  }
  EXPECT_FALSE(Exists(root + "/a"));
  EXPECT_FALSE(Exists(root + "/a.~tmp"));
}

// The join writes its output under "<base>.~tmp" first. An entry that
// already stands at that name is not the join's to destroy or follow: the
// join either fails and leaves everything as it was, or rebuilds the file
// without touching that entry.
TEST_F(Join, AnEntryAtTheTemporaryNameIsNeitherLostNorFollowed) {
  const std::string target = tmp / "outside/target";
  for (const bool isLink : {false, true}) {
    SCOPED_TRACE(isLink ? "a link to a file outside" : "a user's file");
    RemoveAll(root);
    RemoveAll(tmp / "outside");
    MakeTree(root, set);
    WriteFile(target, "precious");
    if (isLink)
      ASSERT_EQ(0, symlink(target.c_str(), (root + "/a.~tmp").c_str()));
    else
      WriteFile(root + "/a.~tmp", "the user's own file");
    const Tree before = ListTree(root);
    const RunResult result = Launch(JoinWords());
    if (result.out == kTitle + Joining(root + "/a.cgi", false)) {
      EXPECT_TRUE(TreesEqual(before, ListTree(root)));
    } else {
      EXPECT_RUN(result, kTitle + Joining(root + "/a.cgi", true));
      EXPECT_TRUE(
          TreesEqual({{"a", "0123456789"}, {"a.~tmp", before.at("a.~tmp")}}, ListTree(root)));
    }
    EXPECT_TRUE(TreesEqual({{"target", "precious"}}, ListTree(tmp / "outside")));
  }
}

TEST_F(Join, TheFilterPicksSetsByTheirSourceNames) {
  const Tree other = SetOf("b", "bbbbbbbbb", 4);
  MakeTree(root, Merge({other, {{"x.cgi", "just a script"}}}));
  EXPECT_RUN(Launch(JoinWords("a")), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual(Merge({other, {{"x.cgi", "just a script"}, {"a", "0123456789"}}}),
                         ListTree(root)));
  // A listed ".cgi" that is no script companion fails and stays.
  EXPECT_RUN(Launch(JoinWords()),
             kTitle + Joining(root + "/b.cgi", true) + Joining(root + "/x.cgi", false));
  EXPECT_TRUE(TreesEqual({{"x.cgi", "just a script"}, {"a", "0123456789"}, {"b", "bbbbbbbbb"}},
                         ListTree(root)));
}

}  // namespace
}  // namespace e2e
