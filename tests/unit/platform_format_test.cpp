// Bounded formatting and copying: a text fits whole or not at all.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

TEST(PlFormat, FitsUpTo259CharactersInAPathBuffer) {
  PathBuffer out;
  std::wstring name(255, L'n');
  // "/abc" + "/" + 254 characters: 259 characters, the most that fits.
  EXPECT_TRUE(PlFormat(out, MAX_PATH, L"%ls/%ls", L"/abc", name.substr(0, 254).c_str()));
  EXPECT_EQ(wcslen(out), 259u);
  EXPECT_EQ(std::wstring(out), L"/abc/" + name.substr(0, 254));

  // One character more is refused, and nothing of it is left behind.
  EXPECT_FALSE(PlFormat(out, MAX_PATH, L"%ls/%ls", L"/abc", name.c_str()));
  EXPECT_EQ(out[0], L'\0');
}

TEST(PlFormat, RefusesWhateverDoesNotFitItsRoom) {
  wchar_t out[8] = L"keep";
  EXPECT_FALSE(PlFormat(out, 0, L"x"));  // no room even for the terminator
  EXPECT_EQ(std::wstring(out), L"keep");
  EXPECT_TRUE(PlFormat(out, 8, L".%03u", 7u));
  EXPECT_EQ(std::wstring(out), L".007");
  EXPECT_FALSE(PlFormat(out, 8, L".%03u", 12345678u));
  EXPECT_EQ(out[0], L'\0');
  EXPECT_TRUE(PlFormat(out, 1, L""));
}

TEST(PlCopy, FitsUpTo259CharactersInAPathBuffer) {
  PathBuffer out;
  std::wstring text(259, L'\u00e9');
  EXPECT_TRUE(PlCopy(out, MAX_PATH, text.c_str()));
  EXPECT_EQ(std::wstring(out), text);
  text += L'x';
  EXPECT_FALSE(PlCopy(out, MAX_PATH, text.c_str()));
  EXPECT_EQ(out[0], L'\0');

  wchar_t none[1] = {L'z'};
  EXPECT_FALSE(PlCopy(none, 0, L""));
  EXPECT_EQ(none[0], L'z');
  EXPECT_TRUE(PlCopy(none, 1, L""));
}

// "/" separates everywhere; "\\" only where it is the platform's separator.
TEST(PlIsSeparator, TheSlashAndThePlatformsSeparator) {
  EXPECT_TRUE(PlIsSeparator(L'/'));
  EXPECT_TRUE(PlIsSeparator(PL_SEP_CHAR));
  EXPECT_EQ(PL_SEP_CHAR == L'\\', PlIsSeparator(L'\\'));
  EXPECT_FALSE(PlIsSeparator(L':'));
  EXPECT_FALSE(PlIsSeparator(L'\0'));
}

}  // namespace
