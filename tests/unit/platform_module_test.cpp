// The current directory and the program's own path, under the system's rule
// for a buffer that is too small.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform_fixture.h"

namespace {

using Module = PlatformDir;

TEST_F(Module, CurrentDirectoryWhenItFitsAndTheRoomItNeedsWhenNot) {
  // A directory whose name does not decode comes back byte for byte.
  std::string odd = Path("d\xff\xc3\xa9");
  ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
  ASSERT_EQ(chdir(odd.c_str()), 0);

  PathBuffer buffer;
  DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
  std::wstring expected = Wide(odd);
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(std::wstring(buffer), expected);

  wchar_t small[8] = L"intact";
  EXPECT_EQ(GetCurrentDirectoryW(static_cast<DWORD>(expected.size()), small), expected.size() + 1);
  EXPECT_EQ(std::wstring(small), L"intact");
  ASSERT_EQ(chdir(saved), 0);
}

TEST(ModuleFile, RealPathOfTheRunningProgram) {
  char bytes[4096];
  ssize_t n = readlink("/proc/self/exe", bytes, sizeof(bytes) - 1);
  ASSERT_GT(n, 0);
  bytes[n] = '\0';
  std::wstring expected = Wide(bytes);
  ASSERT_GT(expected.size(), 6u);

  wchar_t buffer[4096];
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 4096), expected.size());
  EXPECT_EQ(std::wstring(buffer), expected);
  EXPECT_EQ(expected.substr(expected.rfind(L'/')), L"/parcelot_unit");

  // Too small: as much as fits, terminated, and `size` as the result.
  wchar_t small[6];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 6), 6u);
  EXPECT_EQ(std::wstring(small), expected.substr(0, 5));
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 0), 0u);
}

}  // namespace
