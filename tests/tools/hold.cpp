// A helper of the end-to-end tests: another process that holds one file open
// through the platform layer, as another run of the program would, until
// its standard input ends. Words: the way to hold it ("r": reading, others
// allowed to read; "R": reading, shared with no one; "w": writing, others
// allowed to read) and the file's path. Once the open is done it prints one
// line, "held" or "not held".
#include <cstdio>
#include <cwchar>

#include "platform/platform.h"

int ParcelotMain(int count, wchar_t** words) {
  if (count != 3) return 2;
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  if (std::wcscmp(words[1], L"R") == 0) {
    share = 0;
  } else if (std::wcscmp(words[1], L"w") == 0) {
    access = GENERIC_WRITE;
  } else if (std::wcscmp(words[1], L"r") != 0) {
    return 2;
  }
  HANDLE file =
      CreateFileW(words[2], access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::fputs(file != INVALID_HANDLE_VALUE ? "held\n" : "not held\n", stdout);
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 0;
}
