// Listings: a sorted snapshot of the names that match a pattern.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform_fixture.h"

namespace {

using Listings = PlatformDir;

struct Listed {
  std::wstring name;
  DWORD attributes;
};

// Every entry of a listing; empty when FindFirstFileW found nothing.
std::vector<Listed> List(const std::wstring& pattern) {
  std::vector<Listed> entries;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back({data.cFileName, data.dwFileAttributes});
  } while (FindNextFileW(find, &data));
  EXPECT_FALSE(FindNextFileW(find, &data));  // over stays over
  EXPECT_TRUE(FindClose(find));
  return entries;
}

std::wstring Names(const std::vector<Listed>& entries) {
  std::wstring names;
  for (const Listed& entry : entries) names += entry.name + L"|";
  return names;
}

TEST_F(Listings, SortedByTheBytesOfTheNames) {
  for (const char* name : {"b", "\xff", "B", "\xc3\xa4", "a", "_", "a0", "A"}) Put(name, "");
  EXPECT_EQ(Names(List(WPath("*"))), L".|..|A|B|_|a|a0|b|\u00e4|\xDCFF|");
}

TEST_F(Listings, StarAndQuestionMarkAreTheOnlyWildCards) {
  for (const char* name : {"a.iso", "b.iso", "ab.iso", "a.iso.cgi", "A.ISO", ".hidden",
                           "\xc3\xa4.iso", "[a].iso", "x"}) {
    Put(name, "");
  }
  struct {
    const wchar_t* pattern;
    const wchar_t* names;
  } cases[] = {
      {L"*.iso", L"[a].iso|a.iso|ab.iso|b.iso|\u00e4.iso|"},
      {L"?.iso", L"a.iso|b.iso|\u00e4.iso|"},  // "ä" is one character
      {L"*.ISO", L"A.ISO|"},                   // case is kept
      {L"a*", L"a.iso|a.iso.cgi|ab.iso|"},
      {L"*.*.*", L"..|a.iso.cgi|"},  // ".." too: each "*" may stand for nothing
      {L"a.iso", L"a.iso|"},
      {L"[a].iso", L"[a].iso|"},  // brackets are plain characters
      {L"*cgi", L"a.iso.cgi|"},
      {L".*", L".|..|.hidden|"},
      {L"??", L"..|"},
      {L"*x*", L"x|"},
      {L"**", L".|..|.hidden|A.ISO|[a].iso|a.iso|a.iso.cgi|ab.iso|b.iso|x|\u00e4.iso|"},
      {L"?", L".|x|"},
      {L"*.iso?", L""},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Names(List(WPath("") + c.pattern)), c.names) << testing::PrintToString(c.pattern);
  }
}

TEST_F(Listings, EntriesMadeDuringAListingAreNotReturned) {
  Put("m", "");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(WPath("*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  Put("a-new", "");  // would sort before "m", and
  Put("z-new", "");  // after it
  std::wstring names = data.cFileName + std::wstring(L"|");
  while (FindNextFileW(find, &data)) names += data.cFileName + std::wstring(L"|");
  FindClose(find);
  EXPECT_EQ(names, L".|..|m|");
}

TEST_F(Listings, AttributesShowDirectoriesAndLinks) {
  Put("file", "");
  Put("ro", "", 0444);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
  ASSERT_EQ(symlink("dir", Path("to-dir").c_str()), 0);
  ASSERT_EQ(symlink("file", Path("to-file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", Path("to-nowhere").c_str()), 0);
  std::vector<Listed> entries = List(WPath("*"));
  ASSERT_EQ(Names(entries), L".|..|dir|fifo|file|ro|to-dir|to-file|to-nowhere|");
  const DWORD expected[] = {
      FILE_ATTRIBUTE_DIRECTORY,
      FILE_ATTRIBUTE_DIRECTORY,
      FILE_ATTRIBUTE_DIRECTORY,
      FILE_ATTRIBUTE_NORMAL,
      FILE_ATTRIBUTE_NORMAL,
      FILE_ATTRIBUTE_NORMAL,  // read-only shows only in GetFileAttributesW
      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY,
      FILE_ATTRIBUTE_REPARSE_POINT,
      FILE_ATTRIBUTE_REPARSE_POINT,
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].attributes, expected[i]) << testing::PrintToString(entries[i].name);
  }
}

TEST_F(Listings, TheDirectoryIsTheTextBeforeTheLastSeparator) {
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
  Put("sub/inner.iso", "");
  Put("outer.iso", "");
  EXPECT_EQ(Names(List(WPath("sub/*.iso"))), L"inner.iso|");
  EXPECT_EQ(Names(List(WPath("") + L"/*.iso")), L"outer.iso|");  // "dir//*.iso"
  EXPECT_EQ(Names(List(WPath("sub/../*.iso"))), L"outer.iso|");
  EXPECT_EQ(Names(List(L"/t?p")), L"tmp|");  // the root itself

  // Without a separator: the current directory.
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  std::wstring here = Names(List(L"*.iso"));
  std::wstring sub = Names(List(L"sub"));
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(here, L"outer.iso|");
  EXPECT_EQ(sub, L"sub|");
}

TEST_F(Listings, NothingListedGivesNoHandle) {
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(WPath("missing/*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileW(WPath("*.none").c_str(), &data), INVALID_HANDLE_VALUE);
  Put("file", "");
  EXPECT_EQ(FindFirstFileW(WPath("file/*").c_str(), &data), INVALID_HANDLE_VALUE);
  // A pattern of MAX_PATH characters is refused even where its directory
  // exists.
  std::wstring pattern = WPath("");
  pattern.append(MAX_PATH - pattern.size(), L'*');
  EXPECT_EQ(FindFirstFileW(pattern.c_str(), &data), INVALID_HANDLE_VALUE);
  pattern.pop_back();
  EXPECT_NE(Names(List(pattern)), L"");
}

}  // namespace
