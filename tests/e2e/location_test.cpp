// Where the program finds its defaults and its name: beside its own
// executable (its real path), never in the current directory or through the
// name it was started under; and what happens when those paths do not fit.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fixture.h"

namespace e2e {
namespace {

class Location : public E2ETest {
 protected:
  void SetUp() override {
    if (CommandOverridden()) GTEST_SKIP() << "needs the built executable itself, not a command";
    E2ETest::SetUp();
    defaultScript = ReadFile(ExeDir() + "/default.cgi");
    defaultHeader = ReadFile(ExeDir() + "/default.mime");
    ASSERT_NE(defaultScript, decoy);
  }

  // Copies the executable to `path` (its directory made).
  void CopyExe(const std::string& path) { WriteFile(path, ReadFile(ExePath()), 0755); }

  // Decoy defaults in `dir`, which the program must not use.
  void PlaceDecoys(const std::string& dir) {
    WriteFile(dir + "/default.cgi", decoy);
    WriteFile(dir + "/default.mime", decoy);
  }

  std::string Usage(const std::string& name) {
    return kTitle + name + " -s [path] [filter] [size] [header] [script] " + "[extension]\n" +
           name + " -j [path] [filter] [extension]\n";
  }

  const Bytes decoy = "decoy, not a default\n";
  Bytes defaultScript, defaultHeader;
};

TEST_F(Location, DefaultsComeFromTheExecutablesDirectoryNotTheCurrentOne) {
  const std::string cwd = tmp / "cwd";
  PlaceDecoys(cwd);
  WriteFile(root + "/a", "abc");
  RunOptions options;
  options.cwd = cwd;
  EXPECT_RUN(Launch({"-s", root, "a"}, options), kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(SplitSetOf("a", "abc", 1048576, ".%03u", defaultScript, defaultHeader),
                         ListTree(root)));
}

TEST_F(Location, ThroughASymbolicLinkTheRealExecutableCounts) {
  POSIX_ONLY("symbolic links");
  const std::string elsewhere = tmp / "elsewhere";
  PlaceDecoys(elsewhere);
  const std::string link = elsewhere + "/other-name";
  ASSERT_EQ(0, symlink(RealPath(ExePath()).c_str(), link.c_str()));
  RunOptions options;
  options.command = {link};
  options.cwd = elsewhere;

  const RunResult usage = Launch({}, options);
  EXPECT_EQ(0u, usage.out.rfind(Usage("parcelot"), 0)) << usage.out;

  WriteFile(root + "/a", "abc");
  EXPECT_RUN(Launch({"-s", root, "a", "0"}, options), kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(SplitSetOf("a", "abc", 1048576, ".%03u", defaultScript, defaultHeader),
                         ListTree(root)));
}

TEST_F(Location, ACopyUsesItsOwnNameAndItsOwnDirectory) {
  const std::string name = WindowsTarget() ? "my tool.exe" : "my tool";
  const std::string copy = tmp / ("bin dir/" + name);
  CopyExe(copy);
  RunOptions options;
  options.command = CommandFor(copy);
  options.cwd = ExeDir();  // holds the real defaults, which must not be used

  const RunResult usage = Launch({}, options);
  EXPECT_EQ(0u, usage.out.rfind(Usage(name), 0)) << usage.out;

  // No default beside the copy: every split that needs one fails.
  WriteFile(root + "/a", "abc");
  EXPECT_RUN(Launch({"-s", root, "a"}, options), kTitle + Splitting(root + "/a", false));
  EXPECT_EQ("abc", ReadFile(root + "/a"));
  EXPECT_FALSE(Exists(root + "/a.000"));
  EXPECT_RUN(Launch({"-s", root, "a", "0", header}, options),
             kTitle + Splitting(root + "/a", false));
  EXPECT_EQ("abc", ReadFile(root + "/a"));
  EXPECT_FALSE(Exists(root + "/a.000"));
  // Given both files, it needs no default.
  EXPECT_RUN(Launch({"-s", root, "a", "0", header, script}, options),
             kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(SetOf("a", "abc", 1048576), ListTree(root)));

  PlaceDecoys(tmp / "bin dir");
  WriteFile(root + "/b", "xyz");
  EXPECT_RUN(Launch({"-s", root, "b"}, options), kTitle + Splitting(root + "/b", true));
  EXPECT_EQ(decoy, ReadFile(root + "/b.cgi"));
  EXPECT_EQ(decoy, ReadFile(root + "/b.mime"));
}

// The executable's directory, with its final separator, may be at most 247
// characters long for the default header path and 248 for the default
// script path; the executable's path must fit for the usage text.
TEST_F(Location, LongExecutableDirectories) {
  std::string dir = tmp.path() + "/";
  while (Native(dir).size() < 247) dir += "d";  // 247 characters, 248 with the "/"
  // A name short enough that the executable's path fits ("parcelot.exe"
  // would not beside a directory this long).
  const std::string exe = WindowsTarget() ? "p.exe" : "parcelot";
  const std::string copy = dir + "/" + exe;
  CopyExe(copy);
  WriteFile(dir + "/default.cgi", "script beside the copy");
  WriteFile(dir + "/default.mime", "header beside the copy");
  RunOptions options;
  options.command = CommandFor(copy);

  const RunResult usage = Launch({}, options);
  EXPECT_EQ(0u, usage.out.rfind(Usage(exe), 0)) << usage.out;

  WriteFile(root + "/a", "abc");
  // The default header path cannot fit.
  EXPECT_RUN(Launch({"-s", root, "a", "0"}, options), Invalid());
  EXPECT_TRUE(TreesEqual({{"a", "abc"}}, ListTree(root)));
  // The default script path fits exactly.
  EXPECT_RUN(Launch({"-s", root, "a", "0", header}, options),
             kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(
      TreesEqual(SplitSetOf("a", "abc", 1048576, ".%03u", "script beside the copy", headerBytes),
                 ListTree(root)));
  // Join needs neither.
  EXPECT_RUN(Launch({"-j", root, "a"}, options), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", "abc"}}, ListTree(root)));

  // An executable path that does not fit: no usage text, but runs that
  // need no default still work.
  std::string longer = tmp.path() + "/";
  while (Native(longer).size() + 1 + ExeName().size() < 260) longer += "e";
  const std::string far = longer + "/" + ExeName();  // 260 characters
  CopyExe(far);
  options.command = CommandFor(far);
  EXPECT_RUN(Launch({}, options), Invalid());
  EXPECT_RUN(Launch({"-s", root, "a", "0"}, options), Invalid());
  EXPECT_RUN(Launch({"-s", root, "a", "0", header, script}, options),
             kTitle + Splitting(root + "/a", true));
  EXPECT_RUN(Launch({"-j", root, "a"}, options), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", "abc"}}, ListTree(root)));
}

// The current directory has to fit only when it is the root.
TEST_F(Location, LongCurrentDirectories) {
  POSIX_ONLY("under Wine, runs in a current directory this long do not finish");
  std::string longest = tmp.path() + "/";
  while (longest.size() < 259) longest += "c";
  const std::string tooLong = longest + "c";
  MakeDirs(longest);
  MakeDirs(tooLong);
  WriteFile(root + "/a", "abc");
  RunOptions options;

  options.cwd = tooLong;
  EXPECT_RUN(Launch({"-s"}, options), Invalid());
  EXPECT_RUN(Launch({"-j"}, options), Invalid());
  EXPECT_RUN(Launch({"-s", root, "a", "2", header, script}, options),
             kTitle + Splitting(root + "/a", true));
  EXPECT_RUN(Launch({"-j", root}, options), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", "abc"}}, ListTree(root)));

  // 259 characters fit, but then the root's listing pattern does not.
  options.cwd = longest;
  EXPECT_RUN(Launch({"-s"}, options), kTitle + Splitting(longest, false));
  EXPECT_RUN(Launch({"-j"}, options), kTitle + Joining(longest, false));
}

}  // namespace
}  // namespace e2e
