// Bounded formatting and copying of wide text: the same on every platform.
#include <cstdarg>
#include <cwchar>

#include "platform/platform.h"

bool PlFormat(wchar_t* out, size_t room, const wchar_t* format, ...) {
  if (room == 0) return false;
  va_list args;
  va_start(args, format);
  int written = vswprintf(out, room, format, args);
  va_end(args);
  // vswprintf fails (negative) when the text does not fit or cannot be
  // formatted; a partial text is never kept.
  if (written < 0 || static_cast<size_t>(written) >= room) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

bool PlCopy(wchar_t* out, size_t room, const wchar_t* text) {
  if (room == 0) return false;
  size_t length = wcslen(text);
  if (length >= room) {
    out[0] = L'\0';
    return false;
  }
  wmemmove(out, text, length + 1);
  return true;
}
