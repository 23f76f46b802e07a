#include "splitset/naming.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExtensionPattern, AcceptsOneIntegerConversionAmongText) {
  const wchar_t* accepted[] = {
      L".%03u", L".%d",  L".%i",      L".%o",   L".%x",       L".%X",     L"%u",    L"-%u",
      L"_%5u",  L".%+d", L".% d",     L".%#x",  L".%#o",      L".%-3u.x", L".%.5u", L".p%%%u",
      L"%u%%",  L"%%%u", L".%010.4X", L"%.0u_", L".\u00e9%u", L".part%u",
  };
  for (const wchar_t* pattern : accepted) {
    EXPECT_TRUE(IsValidExtensionPattern(pattern)) << testing::PrintToString(pattern);
  }
}

// A width or precision that alone overflows a PathBuffer names no chunk
// that fits; it is refused at once, instead of being padded out in full.
TEST(ExtensionPattern, RefusesWidthsAndPrecisionsThatNeverFit) {
  for (const wchar_t* pattern : {L".%260u", L".%.260u", L"%999999999u", L"%.0000000000999x"}) {
    EXPECT_FALSE(IsValidExtensionPattern(pattern)) << testing::PrintToString(pattern);
  }
  EXPECT_TRUE(IsValidExtensionPattern(L".%250u"));
  EXPECT_TRUE(IsValidExtensionPattern(L".%.0000000000250x"));
}

TEST(ExtensionPattern, RefusesWhatCannotNameEveryChunkApart) {
  const wchar_t* refused[] = {
      L"",  // no conversion: every chunk one name
      L".000",     L"%%",        L".%u%u",     L".%s",       L".%c",       L".%f",   L".%p",
      L".%n",      L".%lu",      L".%hu",      L".%zu",      L".%*u",      L".%.*u", L".%",
      L".%q",      L"%ls",       L".%u/x",     L"/%u",       L"%I64u",     L".%'u",
      L"%.0u",  // index 0 names the base path itself
      L"%.u",      L"%.0x",
      L".%u.",                              // names end in a dot
      L".%u ",     L"%-3u",      L".%-2u",  // or in a space
      L".%xgi",                             // index 12 gives ".cgi"
      L".%XGI",    L".%Xgi",     L".%+xgi",    L".mim%x",    L".MIM%X",
      L".%.0ucgi",  // index 0 gives ".cgi"
      L".cgi%.0u", L".mime%.0x", L".%.0dmime", L".~tmp%.0u", L".%.0d~tmp",
  };
  for (const wchar_t* pattern : refused) {
    EXPECT_FALSE(IsValidExtensionPattern(pattern)) << testing::PrintToString(pattern);
  }
}

// Patterns that only come close to a companion's name stay usable.
TEST(ExtensionPattern, AcceptsNearMissesOfCompanionNames) {
  const wchar_t* accepted[] = {L".cgi%u", L".mime%u", L".%03xgi", L".%ugi",
                               L".c%ui",  L".CG%x",   L".%xime",  L".~tm%x"};
  for (const wchar_t* pattern : accepted) {
    EXPECT_TRUE(IsValidExtensionPattern(pattern)) << testing::PrintToString(pattern);
  }
}

struct ChunkCase {
  const wchar_t* pattern;
  uint32_t index;
  const wchar_t* suffix;
};

TEST(ChunkSuffix, FormatsTheIndex) {
  const ChunkCase cases[] = {
      {L".%03u", 0, L".000"},     {L".%03u", 999, L".999"},
      {L".%03u", 1000, L".1000"}, {L".%03u", 4294967295u, L".4294967295"},
      {L".%d", 2, L".2"},         {L".%d", 4294967295u, L".-1"},
      {L".p%%%u", 0, L".p%0"},    {L".%x", 255, L".ff"},
      {L".%#o", 8, L".010"},      {L".%-3u.x", 7, L".7  .x"},
  };
  for (const ChunkCase& c : cases) {
    PathBuffer out;
    ASSERT_TRUE(FormatChunkSuffix(out, MAX_PATH, c.pattern, c.index));
    EXPECT_EQ(std::wstring(out), std::wstring(c.suffix));
  }
}

TEST(ChunkSuffix, RefusesWhatDoesNotFitTheRoomLeft) {
  wchar_t out[5];
  EXPECT_TRUE(FormatChunkSuffix(out, 5, L".%03u", 999));
  EXPECT_FALSE(FormatChunkSuffix(out, 5, L".%03u", 1000));
  EXPECT_EQ(out[0], L'\0');
}

TEST(CaseFolding, ComparesWholeTexts) {
  EXPECT_TRUE(EqualIgnoringCase(L".CGI", L".cgi"));
  EXPECT_TRUE(EqualIgnoringCase(L".cGi", L".cgi"));
  EXPECT_FALSE(EqualIgnoringCase(L".cgi2", L".cgi"));
  EXPECT_FALSE(EqualIgnoringCase(L".cg", L".cgi"));
  EXPECT_TRUE(EqualIgnoringCase(L"", L""));
}

}  // namespace
