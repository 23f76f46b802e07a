#include <gtest/gtest.h>

#include "cli/cli.h"

namespace {

struct SizeCase {
  const wchar_t* word;
  uint32_t value;
};

// The conversion before the default replaces a 0.
TEST(SizeWord, ConvertsAsUnsignedLongWithBaseZeroIn32Bits) {
  const SizeCase cases[] = {
      {L"4096", 4096},
      {L"0x1000", 4096},
      {L"0X1000", 4096},
      {L"0xfF", 255},
      {L"010", 8},
      {L"08", 0},  // octal: the digit 8 ends the number
      {L"0", 0},
      {L"", 0},
      {L"MB", 0},
      {L"0x", 0},
      {L"0xg", 0},
      {L"1MB", 1},
      {L" 42", 42},
      {L"\t\n 42", 42},
      {L"+42", 42},
      {L"-1", 4294967295u},
      {L"-0", 0},
      {L"- 1", 0},
      {L"+-1", 0},
      {L"4294967295", 4294967295u},
      {L"4294967296", 4294967295u},
      {L"99999999999999999999999", 4294967295u},
      {L"-4294967296", 1},
      {L"-4294967295", 1},
      {L"-4294967294", 2},
      {L"0xFFFFFFFFF", 4294967295u},
      {L"12ab", 12},
  };
  for (const SizeCase& c : cases) {
    EXPECT_EQ(ConvertSizeWord(c.word), c.value)
        << "word \"" << testing::PrintToString(c.word) << "\"";
  }
}

}  // namespace
