// The current directory and the program's own path, as wide text.
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>

#include "platform/platform.h"
#include "platform/posix/text.h"

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  char bytes[PATH_MAX];
  if (getcwd(bytes, sizeof(bytes)) == nullptr) return 0;
  wchar_t text[PATH_MAX];
  if (!PlDecode(bytes, std::strlen(bytes), text, PATH_MAX)) return 0;
  size_t length = wcslen(text);
  // The system's rule: the length when it fits, else the room it needs
  // (terminator included), with the buffer untouched.
  if (length + 1 > size) return static_cast<DWORD>(length + 1);
  wmemcpy(buffer, text, length + 1);
  return static_cast<DWORD>(length);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  if (module != nullptr || size == 0) return 0;
  // The executable's real path, with every link on the way resolved.
  char bytes[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", bytes, sizeof(bytes));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(bytes)) return 0;
  wchar_t text[PATH_MAX];
  if (!PlDecode(bytes, static_cast<size_t>(n), text, PATH_MAX)) return 0;
  size_t length = wcslen(text);
  if (length + 1 <= size) {
    wmemcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
  }
  // The system's rule for a text that does not fit: as much as fits,
  // terminated, and `size` as the result, by which the caller knows.
  wmemcpy(buffer, text, size - 1);
  buffer[size - 1] = L'\0';
  return size;
}
