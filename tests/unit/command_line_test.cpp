#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

// Parses `words` (the program's name is added in front).
CommandLine Parse(std::vector<std::wstring> words, RunSettings* settings) {
  words.insert(words.begin(), L"parcelot");
  std::vector<wchar_t*> pointers;
  for (std::wstring& word : words) pointers.push_back(&word[0]);
  return ParseCommandLine(static_cast<int>(pointers.size()), pointers.data(), settings);
}

struct ModeCase {
  std::vector<std::wstring> words;
  CommandLine expected;
};

TEST(CommandLine, ChoosesTheModeByWordAndCount) {
  const ModeCase cases[] = {
      {{}, CommandLine::Usage},
      {{L"-s"}, CommandLine::Run},
      {{L"-S"}, CommandLine::Run},
      {{L"-j"}, CommandLine::Run},
      {{L"-J"}, CommandLine::Run},
      {{L"-split"}, CommandLine::Invalid},
      {{L"/s"}, CommandLine::Invalid},
      {{L"s"}, CommandLine::Invalid},
      {{L"-h"}, CommandLine::Invalid},
      {{L"/?"}, CommandLine::Invalid},
      {{L""}, CommandLine::Invalid},
      {{L"-s", L"d", L"*", L"1", L"h", L"c", L".%u"}, CommandLine::Run},
      {{L"-s", L"d", L"*", L"1", L"h", L"c", L".%u", L"x"}, CommandLine::Invalid},
      {{L"-j", L"d", L"*", L".%u"}, CommandLine::Run},
      {{L"-j", L"d", L"*", L".%u", L"x"}, CommandLine::Invalid},
      // Words that cannot be used.
      {{L"-s", L"d", L"a/b"}, CommandLine::Invalid},
      {{L"-j", L"d", L"a/"}, CommandLine::Invalid},
      {{L"-s", L"d", L"*", L"1", L"h", L"c", L".%s"}, CommandLine::Invalid},
      {{L"-j", L"d", L"*", L"%.0u"}, CommandLine::Invalid},
      {{L"-j", L"d", L"*", L""}, CommandLine::Invalid},
  };
  for (const ModeCase& c : cases) {
    RunSettings settings;
    EXPECT_EQ(Parse(c.words, &settings), c.expected)
        << testing::PrintToString(c.words.empty() ? std::wstring() : c.words[0]) << " with "
        << c.words.size() << " words";
  }
}

TEST(CommandLine, RefusesWordsThatDoNotFitAPathBuffer) {
  const std::wstring fits(259, L'a');
  const std::wstring tooLong(260, L'a');
  for (size_t position = 1; position <= 6; ++position) {
    if (position == 3) continue;  // the size word is converted, not copied
    std::vector<std::wstring> words = {L"-s", L"d", L"*", L"1", L"h", L"c", L".%u"};
    RunSettings settings;
    words[position] = fits;
    if (position == 6) words[position] = L".%u" + std::wstring(256, L'a');
    EXPECT_EQ(Parse(words, &settings), CommandLine::Run) << "position " << position;
    words[position] = tooLong;
    if (position == 6) words[position] = L".%u" + std::wstring(257, L'a');
    EXPECT_EQ(Parse(words, &settings), CommandLine::Invalid) << "position " << position;
  }
}

TEST(CommandLine, FillsSplitDefaults) {
  RunSettings settings;
  ASSERT_EQ(Parse({L"-s"}, &settings), CommandLine::Run);
  EXPECT_EQ(settings.mode, Mode::Split);
  PathBuffer cwd;
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  EXPECT_EQ(std::wstring(settings.rootDirectory), std::wstring(cwd));
  EXPECT_EQ(std::wstring(settings.filter), L"*");
  EXPECT_EQ(settings.chunkSize, 1048576u);
  EXPECT_EQ(std::wstring(settings.extensionPattern), L".%03u");
  ASSERT_TRUE(settings.hasCompanions);

  // The defaults lie beside the executable that runs, whatever the cwd.
  PathBuffer executable;
  ASSERT_GT(GetModuleFileNameW(nullptr, executable, MAX_PATH), 0u);
  std::wstring directory(executable);
  directory.erase(directory.find_last_of(PL_SEP_CHAR) + 1);
  EXPECT_EQ(std::wstring(settings.headerPath), directory + L"default.mime");
  EXPECT_EQ(std::wstring(settings.scriptPath), directory + L"default.cgi");
}

TEST(CommandLine, FillsJoinSettingsAndKeepsEmptyWords) {
  RunSettings settings;
  ASSERT_EQ(Parse({L"-j", L"", L"", L".%d"}, &settings), CommandLine::Run);
  EXPECT_EQ(settings.mode, Mode::Join);
  EXPECT_EQ(std::wstring(settings.rootDirectory), L"");
  EXPECT_EQ(std::wstring(settings.filter), L"");
  EXPECT_EQ(std::wstring(settings.extensionPattern), L".%d");
  EXPECT_FALSE(settings.hasCompanions);
  EXPECT_EQ(settings.chunkSize, 0u);

  ASSERT_EQ(Parse({L"-s", L"d", L"f", L"0", L"", L""}, &settings), CommandLine::Run);
  EXPECT_EQ(settings.chunkSize, 1048576u);
  EXPECT_EQ(std::wstring(settings.headerPath), L"");
  EXPECT_EQ(std::wstring(settings.scriptPath), L"");
  ASSERT_EQ(Parse({L"-s", L"d", L"f", L"-1"}, &settings), CommandLine::Run);
  EXPECT_EQ(settings.chunkSize, 4294967295u);
}

}  // namespace
