// The walk: which entries get processed, in which order, how paths are
// printed, and what happens at entries that are no regular files or whose
// paths do not fit.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fixture.h"

namespace e2e {
namespace {

class Walk : public E2ETest {};

TEST_F(Walk, FilesFirstThenSubdirectoriesDepthFirstInByteOrder) {
  POSIX_ONLY("names that differ in case only; the order is checked on Windows below");
  const Tree before = {
      {"b", "bb"},       {"a", "aaaaaa"}, {"_", "_"},       {"B", ""},  {"x/", ""},
      {"x/x1", "x1x1x"}, {"x/y/", ""},    {"x/y/y1", "y1"}, {"z/", ""}, {"z/z1", "z1z1z1z1"},
      {"Z/", ""},        {"Z/Z1", "Z"},   {"empty/", ""},
  };
  MakeTree(root, before);
  const std::vector<std::string> order = {"B", "_", "a", "b", "Z/Z1", "x/x1", "x/y/y1", "z/z1"};
  std::string split = kTitle, join = kTitle;
  Tree sets = {{"x/", ""}, {"x/y/", ""}, {"z/", ""}, {"Z/", ""}, {"empty/", ""}};
  for (const std::string& file : order) {
    split += Splitting(root + "/" + file, true);
    join += Joining(root + "/" + file + ".cgi", true);
    sets = Merge({sets, SetOf(file, before.at(file), 3)});
  }
  // Each file once: the members made during a pass are not processed in it.
  EXPECT_RUN(Launch(SplitWords("3")), split);
  EXPECT_TRUE(TreesEqual(sets, ListTree(root)));
  EXPECT_RUN(Launch(JoinWords()), join);
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, DotFilesAreProcessedDotDirectoriesAreNotEntered) {
  const Tree before = {
      {".hidden", "h"}, {".dir/", ""}, {".dir/inner", "inner"}, {"d/", ""}, {"d/.x", "x"}};
  MakeTree(root, before);
  EXPECT_RUN(Launch(SplitWords("4")),
             kTitle + Splitting(root + "/.hidden", true) + Splitting(root + "/d/.x", true));
  EXPECT_RUN(Launch(JoinWords()),
             kTitle + Joining(root + "/.hidden.cgi", true) + Joining(root + "/d/.x.cgi", true));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, FilesBeforeSubdirectoriesEachFileOnce) {
  // Both platforms: a directory's files come before its subdirectories'
  // files, and the members that a pass makes are not processed in it. The
  // order among the files of one directory is the system's.
  const Tree before = {{"m", "mmmmmmm"}, {"k", "kk"},  {"s/", ""},
                       {"s/t", "ttttt"}, {"s/u/", ""}, {"s/u/v", "v"}};
  MakeTree(root, before);
  const RunResult split = Launch(SplitWords("3"));
  EXPECT_RUN(split, kTitle + Splitting(root + "/k", true) + Splitting(root + "/m", true) +
                        Splitting(root + "/s/t", true) + Splitting(root + "/s/u/v", true));
  const size_t deepest = split.out.find(Shown(Native(root + "/s/u/v")));
  const size_t inSub = split.out.find(Shown(Native(root + "/s/t")));
  EXPECT_LT(split.out.find(Shown(Native(root + "/k"))), inSub);
  EXPECT_LT(split.out.find(Shown(Native(root + "/m"))), inSub);
  EXPECT_LT(inSub, deepest);
  EXPECT_RUN(Launch(JoinWords()),
             kTitle + Joining(root + "/k.cgi", true) + Joining(root + "/m.cgi", true) +
                 Joining(root + "/s/t.cgi", true) + Joining(root + "/s/u/v.cgi", true));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, OnWindowsTheFilterIgnoresCase) {
  WINDOWS_ONLY("POSIX matching keeps case");
  const Tree before = {{"top.iso", "top"}, {"UP.ISO", "upper"}, {"x.Is", "short"}, {"a.txt", "t"}};
  MakeTree(root, before);
  EXPECT_RUN(Launch(SplitWords("4", "*.iso")),
             kTitle + Splitting(root + "/top.iso", true) + Splitting(root + "/UP.ISO", true));
  EXPECT_RUN(Launch(SplitWords("4", "X.I?")), kTitle + Splitting(root + "/x.Is", true));
  // The join lists "<filter>.cgi", also ignoring case.
  EXPECT_RUN(Launch(JoinWords("*.ISO")),
             kTitle + Joining(root + "/top.iso.cgi", true) + Joining(root + "/UP.ISO.cgi", true));
  EXPECT_RUN(Launch(JoinWords("x.is")), kTitle + Joining(root + "/x.Is.cgi", true));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, FilterSelectsFilesOnlyAndKeepsCase) {
  POSIX_ONLY("case-sensitive matching");
  const Tree before = {
      {"d.iso/", ""},       {"d.iso/in.iso", "in"}, {"d.iso/in.txt", "t"}, {"top.iso", "top"},
      {"TOP.ISO", "upper"}, {"a.iso.bak", "bak"},   {"x.is", "short"},
  };
  MakeTree(root, before);
  EXPECT_RUN(Launch(SplitWords("4", "*.iso")),
             kTitle + Splitting(root + "/top.iso", true) + Splitting(root + "/d.iso/in.iso", true));
  Tree expected = before;
  expected.erase("top.iso");
  expected.erase("d.iso/in.iso");
  expected =
      Merge({expected, SetOf("top.iso", "top", 4), Under("d.iso", SetOf("in.iso", "in", 4))});
  EXPECT_TRUE(TreesEqual(expected, ListTree(root)));

  // "?" stands for one character.
  EXPECT_RUN(Launch(SplitWords("4", "x.i?")), kTitle + Splitting(root + "/x.is", true));

  // The join's filter names the sources: it lists "<filter>.cgi".
  EXPECT_RUN(Launch(JoinWords("top.iso")), kTitle + Joining(root + "/top.iso.cgi", true));
  EXPECT_RUN(Launch(JoinWords("*.iso")), kTitle + Joining(root + "/d.iso/in.iso.cgi", true));
  EXPECT_RUN(Launch(JoinWords("x.i?")), kTitle + Joining(root + "/x.is.cgi", true));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, NothingToDoPrintsNoLine) {
  EXPECT_RUN(Launch(SplitWords("4")), kTitle);  // empty root
  EXPECT_RUN(Launch(JoinWords()), kTitle);
  const std::string missing = tmp / "missing";
  EXPECT_RUN(Launch(SplitWords("4", "*", ".%03u", missing)), kTitle);
  EXPECT_RUN(Launch(JoinWords("*", ".%03u", missing)), kTitle);
  const Tree before = {{"a.txt", "a"}, {"sub/", ""}, {"sub/b.txt", "b"}};
  MakeTree(root, before);
  EXPECT_RUN(Launch(SplitWords("4", "*.bin")), kTitle);
  EXPECT_RUN(Launch(JoinWords()), kTitle);  // no ".cgi" anywhere
  // A root that is a file is no directory to walk.
  EXPECT_RUN(Launch(SplitWords("4", "*", ".%03u", root + "/a.txt")), kTitle);
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, PathsAreComposedFromTheRootWordAsGiven) {
  const Tree before = {{"a", "abc"}, {"s/", ""}, {"s/b", "de"}};
  MakeTree(root, before);
  struct Case {
    std::string rootWord;
    std::string cwd;
    std::string shown;  // the printed root
  };
  const Case cases[] = {
      {root + "/", "", root + "/"},
      {"tree", tmp.path(), "tree"},
      {"./tree//", tmp.path(), "./tree//"},
      {"../tree", tmp / "aux", "../tree"},
      {".", root, "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rootWord);
    RunOptions options;
    options.cwd = c.cwd;
    // Windows takes the relative words with its own separator.
    const std::string word = Native(c.rootWord);
    EXPECT_RUN(Launch(SplitWords("2", "*", ".%03u", word), options),
               kTitle + Splitting(c.shown + "/a", true) + Splitting(c.shown + "/s/b", true));
    EXPECT_RUN(Launch(JoinWords("*", ".%03u", word), options),
               kTitle + Joining(c.shown + "/a.cgi", true) + Joining(c.shown + "/s/b.cgi", true));
    EXPECT_TRUE(TreesEqual(before, ListTree(root)));
  }
}

TEST_F(Walk, WithoutARootWordTheCurrentDirectoryIsWalkedWithAllDefaults) {
  if (CommandOverridden()) GTEST_SKIP() << "needs the built executable";
  const Bytes defScript = ReadFile(ExeDir() + "/default.cgi");
  const Bytes defHeader = ReadFile(ExeDir() + "/default.mime");
  // Decoy defaults in the current directory are files like any other.
  const Tree before = {
      {"default.cgi", "decoy script"}, {"default.mime", "decoy header"}, {"f", Pattern(1048577)}};
  MakeTree(root, before);
  const std::string abs = RealPath(root);
  RunOptions options;
  options.cwd = root;
  EXPECT_RUN(Launch({"-s"}, options), kTitle + Splitting(abs + "/default.cgi", true) +
                                          Splitting(abs + "/default.mime", true) +
                                          Splitting(abs + "/f", true));
  Tree sets;
  for (const auto& [name, bytes] : before)
    sets = Merge({sets, SplitSetOf(name, bytes, 1048576, ".%03u", defScript, defHeader)});
  EXPECT_TRUE(TreesEqual(sets, ListTree(root)));
  EXPECT_RUN(Launch({"-j"}, options), kTitle + Joining(abs + "/default.cgi.cgi", true) +
                                          Joining(abs + "/default.mime.cgi", true) +
                                          Joining(abs + "/f.cgi", true));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

TEST_F(Walk, EntriesThatAreNoRegularFiles) {
  POSIX_ONLY("symbolic links, FIFOs and sockets");
  const std::string outside = tmp / "outside";
  WriteFile(outside + "/target", "target bytes");
  WriteFile(outside + "/dir/inner", "inner");
  MakeDirs(root);
  ASSERT_EQ(0, symlink((outside + "/target").c_str(), (root + "/l").c_str()));
  ASSERT_EQ(0, symlink((outside + "/dir").c_str(), (root + "/d").c_str()));
  ASSERT_EQ(0, symlink("/dev/null", (root + "/n").c_str()));
  ASSERT_EQ(0, symlink((tmp / "nowhere").c_str(), (root + "/o").c_str()));
  ASSERT_EQ(0, mkfifo((root + "/p").c_str(), 0644));
  // A socket, bound here for the length of the test.
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string sockPath = root + "/s";
  ASSERT_LT(sockPath.size(), sizeof address.sun_path);
  sockPath.copy(address.sun_path, sockPath.size());
  ASSERT_EQ(0, bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address));
  WriteFile(root + "/z", "last");

  const Tree outsideBefore = ListTree(outside);
  Tree expected = ListTree(root);
  expected.erase("l");
  expected.erase("z");
  expected = Merge({expected, SetOf("l", "target bytes", 5), SetOf("z", "last", 5)});

  // The link to a directory gets no line and is not entered; a link to a
  // regular file is split and removed; the others fail, and the walk goes
  // on after them.
  EXPECT_RUN(Launch(SplitWords("5")),
             kTitle + Splitting(root + "/l", true) + Splitting(root + "/n", false) +
                 Splitting(root + "/o", false) + Splitting(root + "/p", false) +
                 Splitting(root + "/s", false) + Splitting(root + "/z", true));
  EXPECT_TRUE(TreesEqual(expected, ListTree(root)));
  EXPECT_TRUE(TreesEqual(outsideBefore, ListTree(outside)));
  close(sock);
}

TEST_F(Walk, JoinPassesOverWhatIsNoScriptCompanionOfARegularSet) {
  POSIX_ONLY("FIFOs");
  // "x.cgi" has no header companion; "q.cgi" is a FIFO; "r.mime" is a
  // FIFO; "t.001" is a FIFO, which ends t's chunks like a missing one.
  MakeTree(root, {{"x.cgi", "just a script"},
                  {"q.mime", "h"},
                  {"q.000", "q0"},
                  {"r.cgi", "s"},
                  {"r.000", "r0"},
                  {"t.cgi", "s"},
                  {"t.mime", "h"},
                  {"t.000", "t0"},
                  {"t.002", "t2"}});
  ASSERT_EQ(0, mkfifo((root + "/q.cgi").c_str(), 0644));
  ASSERT_EQ(0, mkfifo((root + "/r.mime").c_str(), 0644));
  ASSERT_EQ(0, mkfifo((root + "/t.001").c_str(), 0644));
  Tree expected = ListTree(root);
  for (const char* gone : {"t.cgi", "t.mime", "t.000"}) expected.erase(gone);
  expected["t"] = "t0";
  EXPECT_RUN(Launch(JoinWords()),
             kTitle + Joining(root + "/q.cgi", false) + Joining(root + "/r.cgi", false) +
                 Joining(root + "/t.cgi", true) + Joining(root + "/x.cgi", false));
  EXPECT_TRUE(TreesEqual(expected, ListTree(root)));
}

// Paths near the limit of 259 characters (counted in characters), with
// names made of ASCII or of two-byte letters.
class LongPaths : public E2ETest, public ::testing::WithParamInterface<const char*> {
 protected:
  // `first` followed by `unit` up to `chars` characters.
  std::string Name(const std::string& first, size_t chars) const {
    std::string name = first;
    for (size_t i = 1; i < chars; ++i) name += GetParam();
    return name;
  }
};

TEST_P(LongPaths, DoNotFitAndAreReportedOrFitExactly) {
  // Two directories bring the path to 200 characters.
  const size_t rootChars = Native(root).size();
  const std::string d1 = Name("p", 100);
  const std::string d2 = Name("q", 200 - rootChars - 1 - 100 - 1);
  const std::string dir = d1 + "/" + d2;  // relative; root + "/" + dir: 200
  const std::string base = root + "/" + dir;
  auto nameFor = [&](char first, size_t pathChars) {
    return Name(std::string(1, first), pathChars - 200 - 1);
  };
  const std::string a = "a";                // fits easily
  const std::string b = nameFor('b', 254);  // the longest base path
  const std::string c = nameFor('c', 255);  // its header name cannot fit
  const std::string d = nameFor('d', 260);  // its path cannot fit
  const std::string e = nameFor('e', 300);  //
  const std::string f = nameFor('f', 257);  // a directory entered...
  const std::string g = nameFor('g', 258);  // ...and ones that cannot be
  const std::string h = nameFor('h', 300);  //
  const Tree before = {
      {dir + "/", ""},
      {dir + "/" + a, "aaaaa"},
      {dir + "/" + b, "bbbbb"},
      {dir + "/" + c, "ccccc"},
      {dir + "/" + d, "ddddd"},
      {dir + "/" + e, "eeeee"},
      {dir + "/" + f + "/", ""},
      {dir + "/" + f + "/q", "in f"},
      {dir + "/" + g + "/", ""},
      {dir + "/" + g + "/r", "in g"},
      {dir + "/" + h + "/", ""},
      {dir + "/" + h + "/s", "in h"},
      {d1 + "/", ""},
  };
  MakeTree(root, before);

  EXPECT_RUN(Launch(SplitWords("3")),
             kTitle + Splitting(base + "/" + a, true) + Splitting(base + "/" + b, true) +
                 Splitting(base + "/" + c, false) + Splitting(base + "/" + d, false) +
                 Splitting(base + "/" + e, false) + Splitting(base + "/" + f + "/q", false) +
                 Splitting(base + "/" + g, false) + Splitting(base + "/" + h, false));
  Tree expected = before;
  expected.erase(dir + "/" + a);
  expected.erase(dir + "/" + b);
  expected = Merge({expected, Under(dir, SetOf(a, "aaaaa", 3)), Under(dir, SetOf(b, "bbbbb", 3))});
  EXPECT_TRUE(TreesEqual(expected, ListTree(root)));

  // The join's listing pattern for f holds "*.cgi" and no longer fits.
  EXPECT_RUN(Launch(JoinWords()),
             kTitle + Joining(base + "/" + a + ".cgi", true) +
                 Joining(base + "/" + b + ".cgi", true) + Joining(base + "/" + f, false) +
                 Joining(base + "/" + g, false) + Joining(base + "/" + h, false));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

INSTANTIATE_TEST_SUITE_P(Units, LongPaths, ::testing::Values("x", "\xc3\xa9"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           return std::string(p.index == 0 ? "Ascii" : "TwoByte");
                         });

}  // namespace
}  // namespace e2e
