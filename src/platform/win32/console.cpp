// Console output: wide text converted to the selected locale's code page on
// stdout, which the C runtime keeps in text mode ("\n" is written as CR LF).
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "platform/platform.h"

namespace {

// Room for one formatted message: a progress line holds a path of fewer than
// MAX_PATH characters (or two parts of one), the usage text a few lines.
constexpr size_t kLineRoom = 4096;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

void PlPrint(const wchar_t* format, ...) {
  wchar_t line[kLineRoom];
  va_list args;
  va_start(args, format);
  int written = vswprintf(line, kLineRoom, format, args);
  va_end(args);
  // Nothing that cannot be formatted whole prints.
  if (written < 0 || static_cast<size_t>(written) >= kLineRoom) return;

  // Each character is converted on its own, so one that the code page cannot
  // show becomes one "?" (a surrogate pair is one character) and the rest of
  // the line still prints.
  char bytes[1024];
  size_t used = 0;
  for (int i = 0; i < written; ++i) {
    if (used > sizeof(bytes) - 2 * MB_LEN_MAX) {
      fwrite(bytes, 1, used, stdout);
      used = 0;
    }
    int units = IsHighSurrogate(line[i]) && IsLowSurrogate(line[i + 1]) ? 2 : 1;
    size_t start = used;
    bool shown = true;
    mbstate_t state{};
    for (int k = 0; k < units && shown; ++k) {
      size_t n = wcrtomb(bytes + used, line[i + k], &state);
      if (n == static_cast<size_t>(-1) || n == 0) {
        shown = false;
      } else {
        used += n;
      }
    }
    if (!shown) {
      used = start;
      bytes[used++] = '?';
    }
    i += units - 1;
  }
  fwrite(bytes, 1, used, stdout);
}
