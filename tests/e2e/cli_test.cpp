// The command line: usage text, refused command lines, size words and the
// lengths of words.
#include <string>
#include <vector>

#include "fixture.h"

namespace e2e {
namespace {

std::string UsageText(const std::string& name) {
  return name + " -s [path] [filter] [size] [header] [script] [extension]\n" + name +
         " -j [path] [filter] [extension]\n"
         "-s              Split files.\n"
         "-j              Join files.\n"
         "[path]          Specify a path where files exist.\n"
         "                If this argument is omitted, the files in the "
         "current directory\n"
         "                will be processed.\n"
         "[filter]        Specify a file name filter.\n"
         "                * can be used as a wild card.\n"
         "                If this argument is omitted, all files will be "
         "processed.\n"
         "[size]          Specify size in bytes that files will be splitted "
         "into.\n"
         "                If this argument is omitted, files will be splitted "
         "into 1MB.\n"
         "[header]        Specify a file that contains MIME Content-Type "
         "header.\n"
         "                If this argument is omitted, \"default.mime\" will "
         "be used.\n"
         "[script]        Specify a CGI script file.\n"
         "                If this argument is omitted, \"default.cgi\" will be "
         "used.\n"
         "[extension]     Specify a name convention of the extension of "
         "splitted files.\n"
         "                For example, if \".%d\" is specified, then "
         "\"file.ext\" will be\n"
         "                splitted into \"file.ext.0\", \"file.ext.1\", "
         "\"file.ext.2\" ... .\n"
         "                If this argument is omitted, \".%03u\" will be "
         "used.\n";
}

class CommandLine : public E2ETest {};

TEST_F(CommandLine, WithoutWordsPrintsTheUsageText) {
  for (const char* locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    RunOptions options;
    options.locale = locale;
    options.cwd = root;
    EXPECT_RUN(Launch({}, options), kTitle + UsageText(ExeName()));
  }
}

TEST_F(CommandLine, RefusedCommandLinesWalkNothing) {
  const Tree before = {{"a", "0123456789"}, {"sub/", ""}, {"sub/b", "xy"}};
  MakeTree(root, before);
  const std::vector<std::vector<std::string>> cases = {
      {"-split"},
      {"/s"},
      {"s"},
      {"-h"},
      {"/?"},
      {""},
      {"--"},
      {"-x", root},
      {"-sj", root},
      {"-s", root, "*", "4", header, script, ".%03u", "extra"},
      {"-S", root, "*", "4", header, script, ".%03u", ""},
      {"-j", root, "*", ".%03u", "extra"},
      {"-j", root, "*", ".%03u", ""},
      // A filter holding a separator.
      {"-s", root, "sub/*"},
      {"-s", root, "/"},
      {"-j", root, "sub/b"},
      // An extension pattern holding a separator.
      {"-s", root, "*", "4", header, script, "/%u"},
      {"-s", root, "*", "4", header, script, ".%u/x"},
      {"-j", root, "*", "/.%03u"},
  };
  for (const auto& words : cases) {
    std::string shown;
    for (const auto& w : words) shown += "[" + w + "] ";
    SCOPED_TRACE(shown);
    RunOptions options;
    options.cwd = root;
    EXPECT_RUN(Launch(words, options), Invalid());
    EXPECT_TRUE(TreesEqual(before, ListTree(root)));
  }
}

TEST_F(CommandLine, UnsupportedExtensionPatternsAreRefusedInBothModes) {
  // "a" would be split and "b" joined if a pattern got through.
  const Tree before = Merge({{{"a", "0123456789"}}, SetOf("b", "abcdefgh", 4, ".%03u")});
  MakeTree(root, before);
  const char* const patterns[] = {
      "",           // no conversion
      ".000",       // no conversion
      ".%%u",       // only a literal "%"
      ".%",         // a lone "%"
      ".%5",        // an unfinished conversion
      ".%u%u",      // two conversions
      ".%u.%x",     // two conversions
      ".%s",        // text conversion
      ".%ls",       //
      ".%c",        //
      ".%n",        //
      ".%p",        //
      ".%e",        //
      ".%lu",       // length modifiers
      ".%llu",      //
      ".%hu",       //
      ".%hhu",      //
      ".%zu",       //
      ".%ju",       //
      ".%*u",       // width from an argument
      ".%.*u",      // precision from an argument
      ".%1$u",      // positional argument
      ".%'u",       // flag outside -+ #0
      "%.0u",       // index 0 gives an empty name
      "%.u",        // "." alone is precision 0
      ".%xgi",      // index 12 gives ".cgi"
      ".%XGI",      // index 12 gives ".CGI"
      ".mim%x",     // index 14 gives ".mime"
      ".CGI%.0u",   // index 0 gives ".CGI"
      ".Mime%.0d",  // index 0 gives ".Mime"
      ".~tmp%.0u",  // index 0 gives the join's temporary name
      ".~TMP%.0x",  //
      ".%u.",       // names ending in a dot
      ".%.u",       // index 0 gives "."
      "%-3u",       // index 0 gives "0  "
      ".%u ",       // names ending in a space
      "% .0d",      // index 0 gives " "
  };
  for (const char* pattern : patterns) {
    SCOPED_TRACE(std::string("pattern [") + pattern + "]");
    EXPECT_RUN(Launch(SplitWords("4", "a", pattern)), Invalid());
    EXPECT_RUN(Launch(JoinWords("b", pattern)), Invalid());
    EXPECT_TRUE(TreesEqual(before, ListTree(root)));
  }
}

TEST_F(CommandLine, ModeWordsIgnoreCase) {
  const Bytes content = "0123456789";
  WriteFile(root + "/a", content);
  EXPECT_RUN(Launch({"-S", root, "a", "4", header, script}), kTitle + Splitting(root + "/a", true));
  EXPECT_TRUE(TreesEqual(SetOf("a", content, 4), ListTree(root)));
  EXPECT_RUN(Launch({"-J", root, "a"}), kTitle + Joining(root + "/a.cgi", true));
  EXPECT_TRUE(TreesEqual({{"a", content}}, ListTree(root)));
}

TEST_F(CommandLine, SizeWordsConvertLikeAnUnsignedNumberWithAutomaticBase) {
  constexpr unsigned kDefault = 1048576;
  constexpr unsigned kMax = 4294967295u;
  constexpr size_t kBig = kDefault + 3;
  struct Case {
    const char* word;
    size_t length;
    unsigned size;
  };
  const Case cases[] = {
      {"4", 10, 4},
      {"0x4", 10, 4},
      {"0X4", 10, 4},
      {"0xa", 25, 10},
      {"010", 10, 8},
      {"4MB", 10, 4},
      {"3 ", 10, 3},
      {" 4", 10, 4},
      {"\t4", 10, 4},
      {"+4", 10, 4},
      {"1e3", 10, 1},
      {"-4294967295", 5, 1},
      {"-99999999999", 5, 1},
      {"08", kBig, kDefault},
      {"0", kBig, kDefault},
      {"", kBig, kDefault},
      {"abc", kBig, kDefault},
      {"0x", kBig, kDefault},
      {"-0", kBig, kDefault},
      {"-1", kBig, kMax},
      {"-4", kBig, kMax - 3},
      {"4294967296", kBig, kMax},
      {"99999999999", kBig, kMax},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("size word [") + c.word + "]");
    // Under Wine a read into a buffer of 4 GiB does not end within the
    // run's time limit; Windows reads it at once.
    if (WindowsTarget() && c.size > 0x80000000u) continue;
    const std::string dir = root + "/" + std::to_string(n++);
    const Bytes content = Pattern(c.length, static_cast<unsigned>(n));
    WriteFile(dir + "/f", content);
    EXPECT_RUN(Launch(SplitWords(c.word, "f", ".%03u", dir)), kTitle + Splitting(dir + "/f", true));
    EXPECT_TRUE(TreesEqual(SetOf("f", content, c.size), ListTree(dir)));
    RemoveAll(dir);
  }
}

// Words of 259 characters are used whole; one more character is refused.
// Lengths count characters, not bytes.
class WordLength : public E2ETest {
 protected:
  // A path under the temporary directory of exactly `length` characters,
  // the rest made of `unit`, with a separator after every 100 units so that
  // no name grows past the system's limit.
  std::string PathOfLength(size_t length, const std::string& unit = "x") {
    std::string path = tmp.path() + "/";
    size_t chars = Native(path).size(), run = 0;
    EXPECT_LT(chars, length);
    for (; chars < length; ++chars) {
      if (run == 100 && chars + 1 < length) {
        path += "/";
        run = 0;
      } else {
        path += unit;
        ++run;
      }
    }
    return path;
  }
};

TEST_F(WordLength, RootDirectory) {
  const std::string longest = PathOfLength(259);
  MakeDirs(longest);
  WriteFile(root + "/a", "abc");
  // Its listing pattern cannot fit: the root is reported as not entered.
  EXPECT_RUN(Launch(SplitWords("4", "*", ".%03u", longest)), kTitle + Splitting(longest, false));
  EXPECT_RUN(Launch(JoinWords("*", ".%03u", longest)), kTitle + Joining(longest, false));
  const std::string tooLong = PathOfLength(260);
  MakeDirs(tooLong);
  EXPECT_RUN(Launch(SplitWords("4", "*", ".%03u", tooLong)), Invalid());
  EXPECT_RUN(Launch(JoinWords("*", ".%03u", tooLong)), Invalid());
  EXPECT_TRUE(TreesEqual({{"a", "abc"}}, ListTree(root)));
}

TEST_F(WordLength, Filter) {
  WriteFile(root + "/a", "abc");
  for (const std::string unit : {"x", "\xc3\xa9"}) {
    SCOPED_TRACE("filter made of [" + unit + "]");
    std::string longest;
    for (int i = 0; i < 258; ++i) longest += unit;
    longest += "*";
    // The root's listing pattern cannot fit with such a filter.
    EXPECT_RUN(Launch(SplitWords("4", longest)), kTitle + Splitting(root, false));
    EXPECT_RUN(Launch(JoinWords(longest)), kTitle + Joining(root, false));
    EXPECT_RUN(Launch(SplitWords("4", unit + longest)), Invalid());
    EXPECT_RUN(Launch(JoinWords(unit + longest)), Invalid());
  }
  EXPECT_TRUE(TreesEqual({{"a", "abc"}}, ListTree(root)));
}

TEST_F(WordLength, HeaderAndScript) {
  const Bytes content = "0123456789";
  for (const std::string unit : {"x", "\xc3\xa9"}) {
    SCOPED_TRACE("file name made of [" + unit + "]");
    const std::string longest = PathOfLength(259, unit);
    const std::string tooLong = PathOfLength(260, unit);
    WriteFile(longest, "longest");
    WriteFile(tooLong, "too long");
    WriteFile(root + "/a", content);
    EXPECT_RUN(Launch({"-s", root, "a", "4", tooLong, script}), Invalid());
    EXPECT_RUN(Launch({"-s", root, "a", "4", header, tooLong}), Invalid());
    EXPECT_TRUE(TreesEqual({{"a", content}}, ListTree(root)));

    EXPECT_RUN(Launch({"-s", root, "a", "4", longest, script}),
               kTitle + Splitting(root + "/a", true));
    EXPECT_TRUE(
        TreesEqual(SplitSetOf("a", content, 4, ".%03u", scriptBytes, "longest"), ListTree(root)));
    RemoveAll(root);
    WriteFile(root + "/a", content);
    EXPECT_RUN(Launch({"-s", root, "a", "4", header, longest}),
               kTitle + Splitting(root + "/a", true));
    EXPECT_TRUE(
        TreesEqual(SplitSetOf("a", content, 4, ".%03u", "longest", headerBytes), ListTree(root)));
    RemoveAll(root);
    RemoveAll(longest);
    RemoveAll(tooLong);
  }
}

TEST_F(WordLength, ExtensionPattern) {
  WriteFile(root + "/a", "0123456789");
  std::string longest = ".%u";
  while (longest.size() < 259) longest += "x";
  // The pattern is taken, but no chunk name can fit beside the base path:
  // the split fails and keeps its source.
  EXPECT_RUN(Launch(SplitWords("4", "a", longest)), kTitle + Splitting(root + "/a", false));
  EXPECT_EQ("0123456789", ReadFile(root + "/a"));
  // Nothing matches here: the run just walks.
  EXPECT_RUN(Launch(JoinWords("none", longest)), kTitle);
  EXPECT_RUN(Launch(SplitWords("4", "none", longest + "x")), Invalid());
  EXPECT_RUN(Launch(JoinWords("none", longest + "x")), Invalid());
}

}  // namespace
}  // namespace e2e
