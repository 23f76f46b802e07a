// A split followed by a join with the same pattern gives back the tree byte
// for byte, names included, and leaves no member of a set behind.
#include <string>
#include <vector>

#include "fixture.h"

namespace e2e {
namespace {

// How a name prints: valid UTF-8 as itself in C.UTF-8; in the C locale every
// byte above 0x7f is one that does not decode. Each such byte prints as "?".
std::string Printed(const std::string& bytes, bool utf8) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += bytes[i++];
      continue;
    }
    size_t length = 0;
    if (utf8) {
      if (c >= 0xc2 && c <= 0xdf)
        length = 2;
      else if (c >= 0xe0 && c <= 0xef)
        length = 3;
      else if (c >= 0xf0 && c <= 0xf4)
        length = 4;
      for (size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size() || (static_cast<unsigned char>(bytes[i + k]) & 0xc0) != 0x80)
          length = 0;
      }
    }
    if (length == 0) {
      out += "?";
      ++i;
    } else {
      out += bytes.substr(i, length);
      i += length;
    }
  }
  return out;
}

class RoundTrip : public E2ETest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RoundTrip, NamesSizesAndNestingSurviveSplitAndJoin) {
  const bool utf8 = std::string(GetParam()) == "C.UTF-8";
  // Wine takes the Windows locale from LC_ALL; which code page it gives
  // "C" is Wine's choice, not one Windows has.
  if (WindowsTarget() && !utf8) GTEST_SKIP() << "Wine's code page for LC_ALL=C";
  const unsigned size = 7;
  // In the order of the walk: each directory's files in byte order, then
  // its subdirectories.
  const std::vector<std::pair<std::string, size_t>> files = {
      {"%s%n%x", 7},
      {".dot", 1},
      {"100%d.txt", 8},
      {"a b c.txt", 21},
      {"bad\xff\xfe", 22},
      {"empty", 0},
      {"run.cgi", 7},  // its set's script companion is "run.cgi.cgi"
      {"six", 6},
      {"\xc3\xbc"
       "n\xc3\xaf"
       "c\xc3\xb8"
       "d\xc3\xa9.bin",
       15},
      {"nested/deeper/e", 9},
      {"nested/deeper/z\xe2\x82\xac", 14},
      {"sub dir/\xc3\xbc/f", 3},
  };
  Tree before = {
      {"nested/", ""}, {"nested/deeper/", ""}, {"sub dir/", ""}, {"sub dir/\xc3\xbc/", ""}};
  Tree sets = before;
  std::string split = kTitle, join = kTitle;
  unsigned seed = 0;
  for (const auto& [name, length] : files) {
    const Bytes content = Pattern(length, ++seed);
    // Names are UTF-16 on Windows: bytes invalid in UTF-8 name no file there.
    if (WindowsTarget() && name.rfind("bad", 0) == 0) continue;
    before[name] = content;
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash);
    const std::string base = name.substr(slash + 1);
    const Tree set = SetOf(base, content, size);
    sets = Merge({sets, dir.empty() ? set : Under(dir, set)});
    // Windows prints names through its code page, whatever LC_ALL says.
    const bool whole = utf8 || WindowsTarget();
    split += Splitting(Printed(root + "/" + name, whole), true);
    join += Joining(Printed(root + "/" + name + ".cgi", whole), true);
  }
  MakeTree(root, before);
  RunOptions options;
  options.locale = GetParam();
  EXPECT_RUN(Launch(SplitWords(std::to_string(size)), options), split);
  EXPECT_TRUE(TreesEqual(sets, ListTree(root)));
  EXPECT_RUN(Launch(JoinWords(), options), join);
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

INSTANTIATE_TEST_SUITE_P(Locales, RoundTrip, ::testing::Values("C.UTF-8", "C"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           return std::string(p.index == 0 ? "CUtf8" : "C");
                         });

class Patterns : public E2ETest {};

TEST_F(Patterns, EverySupportedFormNamesChunksAsPrintfDoes) {
  const char* const patterns[] = {
      ".%03u", ".%d",    ".%i",   ".p%%%u", "%%.%i", ".%#x",   ".%#o", ".%X", "_%+05d",
      ".% d",  ".%-4u_", ".%.3u", "%u",     "-%x-",  ".%5.3o", ".%0u", "%1u", "x%.u",
  };
  const Bytes content = Pattern(17);  // indices 0 to 16
  for (const char* pattern : patterns) {
    SCOPED_TRACE(std::string("pattern [") + pattern + "]");
    WriteFile(root + "/f", content);
    EXPECT_RUN(Launch(SplitWords("1", "f", pattern)), kTitle + Splitting(root + "/f", true));
    EXPECT_TRUE(TreesEqual(SetOf("f", content, 1, pattern), ListTree(root)));
    EXPECT_RUN(Launch(JoinWords("f", pattern)), kTitle + Joining(root + "/f.cgi", true));
    EXPECT_TRUE(TreesEqual({{"f", content}}, ListTree(root)));
  }
}

TEST_F(Patterns, TheDefaultPatternGoesPast999Chunks) {
  const Bytes content = Pattern(1001);
  WriteFile(root + "/f", content);
  EXPECT_RUN(Launch({"-s", root, "f", "1", header, script}), kTitle + Splitting(root + "/f", true));
  const Tree set = SetOf("f", content, 1);
  ASSERT_TRUE(set.count("f.1000"));
  EXPECT_TRUE(TreesEqual(set, ListTree(root)));
  EXPECT_RUN(Launch({"-j", root, "f"}), kTitle + Joining(root + "/f.cgi", true));
  EXPECT_TRUE(TreesEqual({{"f", content}}, ListTree(root)));
}

TEST_F(Patterns, TheDefaultChunkSizeIsOneMebibyte) {
  const Tree before = {{"big", Pattern(3 * 1048576 + 123, 7)}, {"exact", Pattern(2 * 1048576, 8)}};
  MakeTree(root, before);
  EXPECT_RUN(Launch({"-s", root, "*", "", header, script}),
             kTitle + Splitting(root + "/big", true) + Splitting(root + "/exact", true));
  EXPECT_TRUE(TreesEqual(
      Merge({SetOf("big", before.at("big"), 1048576), SetOf("exact", before.at("exact"), 1048576)}),
      ListTree(root)));
  EXPECT_RUN(Launch({"-j", root}),
             kTitle + Joining(root + "/big.cgi", true) + Joining(root + "/exact.cgi", true));
  EXPECT_TRUE(TreesEqual(before, ListTree(root)));
}

}  // namespace
}  // namespace e2e
