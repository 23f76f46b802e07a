// What the join relies on when it moves its rebuilt file into place: a move
// without MOVEFILE_REPLACE_EXISTING never replaces what stands at the target.
// The same check runs against our POSIX layer and against the system's own
// MoveFileExW (under Wine for the Windows build).
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

void Write(const wchar_t* name, const std::string& bytes) {
  HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(file);
}

std::string Read(const wchar_t* name) {
  HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<none>";
  char buffer[64];
  DWORD got = 0;
  std::string bytes;
  if (ReadFile(file, buffer, sizeof buffer, &got, nullptr)) bytes.assign(buffer, got);
  CloseHandle(file);
  return bytes;
}

TEST(MoveFileExW, NeverReplacesAnExistingTarget) {
  const wchar_t* from = L"parcelot-move-test.~tmp";
  const wchar_t* to = L"parcelot-move-test";
  Write(from, "rebuilt");
  Write(to, "the only copy");
  EXPECT_FALSE(MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ("the only copy", Read(to));
  EXPECT_EQ("rebuilt", Read(from));

  EXPECT_TRUE(DeleteFileW(to));
  EXPECT_TRUE(MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ("rebuilt", Read(to));
  EXPECT_EQ("<none>", Read(from));
  DeleteFileW(to);
}

}  // namespace
