// The lossless conversion between the system's bytes and wide text, and the
// console output built on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace {

class TextIn : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { ASSERT_NE(setlocale(LC_ALL, GetParam()), nullptr) << GetParam(); }
  void TearDown() override { setlocale(LC_ALL, "C"); }
};

std::wstring Decode(const std::string& bytes) {
  wchar_t out[1024];
  EXPECT_TRUE(PlDecode(bytes.data(), bytes.size(), out, 1024));
  return out;
}

std::string Encode(const std::wstring& text) {
  char out[4096];
  if (!PlEncode(text.c_str(), out, sizeof(out))) return "<refused>";
  return out;
}

// Every one of these byte strings must come back byte for byte, whatever
// the locale makes of it.
TEST_P(TextIn, NamesComeBackByteForByte) {
  std::string allHighBytes;
  for (int b = 0x80; b <= 0xFF; ++b) allHighBytes += static_cast<char>(b);
  const std::string names[] = {
      "plain.iso",
      "caf\xc3\xa9.txt",           // a non-ASCII letter in UTF-8
      "\xff\xfe",                  // never valid UTF-8
      "\xc0\xaf",                  // an overlong '/'
      "\xe0\x80\xae",              // an overlong '.'
      "\xed\xa0\x80",              // an encoded surrogate
      "\xed\xb2\x80",              // an encoded surrogate in the escape range
      "\xf4\x90\x80\x80",          // beyond U+10FFFF
      "cut\xe2\x82",               // a sequence cut off at the end
      "a\x80z",                    // a lone continuation byte
      "100%d%%s",                  // format characters are plain text here
      "\xe4\xb8\xad\xe6\x96\x87",  // CJK
      allHighBytes,
  };
  for (const std::string& name : names) {
    std::wstring wide = Decode(name);
    EXPECT_EQ(Encode(wide), name) << testing::PrintToString(name);
  }
}

// An undecodable byte never turns into a character that means something
// else to the program, such as a separator or a dot.
TEST_P(TextIn, UndecodableBytesBecomeEscapes) {
  std::wstring overlongSlash = Decode("\xc0\xaf");
  EXPECT_EQ(overlongSlash, std::wstring(L"\xDCC0\xDCAF"));
  EXPECT_EQ(Decode("\xed\xa0\x80"), std::wstring(L"\xDCED\xDCA0\xDC80"));
  EXPECT_EQ(Decode("a\xffz"), std::wstring(L"a\xDCFFz"));
}

INSTANTIATE_TEST_SUITE_P(Locales, TextIn, ::testing::Values("C", "C.UTF-8"));

class Utf8 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr); }
  void TearDown() override { setlocale(LC_ALL, "C"); }
};

TEST_F(Utf8, ValidTextDecodesToItsCharacters) {
  EXPECT_EQ(Decode("caf\xc3\xa9"), std::wstring(L"caf\u00e9"));
  EXPECT_EQ(Decode("\xe4\xb8\xad"), std::wstring(L"\u4e2d"));
  EXPECT_EQ(Encode(L"\u00e9"), "\xc3\xa9");
}

TEST_F(Utf8, CharacterWithoutEncodingFailsTheConversion) {
  // A lone surrogate has no UTF-8 form; in the C locale no letter beyond
  // ASCII has one.
  EXPECT_EQ(Encode(L"a\xD800"), "<refused>");
  setlocale(LC_ALL, "C");
  EXPECT_EQ(Encode(L"caf\u00e9"), "<refused>");
}

TEST_F(Utf8, DecodingIntoTooLittleRoomFailsWithEmptyText) {
  wchar_t out[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_TRUE(PlDecode("abc", 3, out, 4));
  EXPECT_FALSE(PlDecode("abcd", 4, out, 4));
  EXPECT_EQ(out[0], L'\0');
  char bytes[4];
  EXPECT_FALSE(PlEncode(L"\u00e9\u00e9", bytes, 4));  // 4 bytes plus terminator
  EXPECT_EQ(bytes[0], '\0');
}

TEST_F(Utf8, PathsOfMaxPathCharactersOrMoreAreRefused) {
  char bytes[kPathBytes];
  std::wstring path(MAX_PATH - 1, L'\u4e2d');  // 259 characters of 3 bytes each
  EXPECT_TRUE(PlEncodePath(path.c_str(), bytes));
  EXPECT_EQ(std::string(bytes).size(), 3u * (MAX_PATH - 1));
  path += L'a';
  EXPECT_FALSE(PlEncodePath(path.c_str(), bytes));
}

TEST_F(Utf8, CommandWordsAreNeverCutIntoShorterOnes) {
  wchar_t word[4096];
  std::string fits(4095, '7');
  PlDecodeWord(fits.c_str(), word, 4096);
  EXPECT_EQ(std::wstring(word), std::wstring(4095, L'7'));

  // One character more does not fit: the word becomes a long text that is
  // no number and no path, not its first 4095 characters.
  std::string tooLong(4096, '7');
  PlDecodeWord(tooLong.c_str(), word, 4096);
  std::wstring got(word);
  EXPECT_GE(got.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(got.find(L'7'), std::wstring::npos);

  PlDecodeWord("-s\xff", word, 4096);
  EXPECT_EQ(std::wstring(word), std::wstring(L"-s\xDCFF"));
}

// What PlPrint writes on standard output, caught in a temporary file.
std::string Printed(void (*print)()) {
  fflush(stdout);
  int saved = dup(1);
  FILE* sink = tmpfile();
  dup2(fileno(sink), 1);
  print();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string bytes;
  rewind(sink);
  int c;
  while ((c = fgetc(sink)) != EOF) bytes += static_cast<char>(c);
  fclose(sink);
  return bytes;
}

TEST_F(Utf8, PrintConvertsToTheLocaleEncoding) {
  EXPECT_EQ(Printed([] { PlPrint(L"Splitting : %ls\n", L"/d/caf\u00e9"); }),
            "Splitting : /d/caf\xc3\xa9\n");
  EXPECT_EQ(Printed([] { PlPrint(L"100%%\n"); }), "100%\n");
  // An escaped byte of a name prints as one "?", and the line goes on.
  EXPECT_EQ(Printed([] { PlPrint(L"%ls!\n", L"a\xDCFF\xDC80z"); }), "a??z!\n");
  // Standard output stays a byte stream.
  EXPECT_LT(fwide(stdout, 0), 1);
}

TEST_F(Utf8, PrintShowsUnencodableCharactersAsQuestionMarks) {
  setlocale(LC_ALL, "C");
  EXPECT_EQ(Printed([] { PlPrint(L"%ls\n", L"\u4e2dx\u00e9y"); }), "?x?y\n");
}

}  // namespace
