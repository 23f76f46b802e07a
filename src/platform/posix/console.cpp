// Console output: wide text converted to the locale's encoding on stdout.
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace {

// Room for one formatted message: a progress line holds a path of fewer than
// MAX_PATH characters, the usage text a few lines.
constexpr size_t kLineRoom = 4096;

}  // namespace

void PlPrint(const wchar_t* format, ...) {
  wchar_t line[kLineRoom];
  va_list args;
  va_start(args, format);
  int written = vswprintf(line, kLineRoom, format, args);
  va_end(args);
  if (written < 0) return;  // nothing that cannot be formatted whole prints

  // stdout stays a byte stream: each character is converted on its own, so a
  // character that has no encoding (or an escaped byte of a name) becomes
  // one "?" and the rest of the line still prints.
  char bytes[1024];
  size_t used = 0;
  mbstate_t state{};
  for (int i = 0; i <= written; ++i) {
    if (used > sizeof(bytes) - MB_LEN_MAX) {
      fwrite(bytes, 1, used, stdout);
      used = 0;
    }
    wchar_t c = line[i];
    if (c != L'\0' && PlIsEscapedByte(c)) {
      bytes[used++] = '?';
      continue;
    }
    size_t n = wcrtomb(bytes + used, c, &state);
    if (n == static_cast<size_t>(-1)) {
      state = mbstate_t{};
      bytes[used++] = '?';
      continue;
    }
    // The terminator gives the shift reset of a stateful encoding and a NUL
    // byte, which is not printed.
    if (c == L'\0') n -= 1;
    used += n;
  }
  fwrite(bytes, 1, used, stdout);
}
