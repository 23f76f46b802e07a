// Fuzzes the extension-pattern check and chunk naming: the first four bytes
// are a chunk index, the next two a room, the rest the pattern. A pattern
// that passes the check must format every index as printf does, within the
// room given and never past it, into a suffix that names a chunk apart from
// the base path, the companions and the temporary file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "fuzz_text.h"
#include "splitset/naming.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EqualsFolded(const std::wstring& a, const wchar_t* b) {
  if (a.size() != std::wcslen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  uint32_t index;
  std::memcpy(&index, data, 4);
  size_t room = (static_cast<size_t>(data[4]) | static_cast<size_t>(data[5]) << 8) % (MAX_PATH + 1);
  const std::wstring pattern = WideFromBytes(data + 6, size - 6);
  if (pattern.size() >= MAX_PATH || !IsValidExtensionPattern(pattern.c_str())) return 0;

  // The name is written into a PathBuffer followed by guard characters.
  constexpr wchar_t kGuard = 0x2A2A;
  wchar_t out[MAX_PATH + 16];
  for (wchar_t& c : out) c = kGuard;
  const bool fits = FormatChunkSuffix(out, room, pattern.c_str(), index);
  for (size_t i = room; i < MAX_PATH + 16; ++i) Check(out[i] == kGuard);

  // The same index formatted with all the room there is.
  wchar_t whole[MAX_PATH];
  const bool fitsWhole = FormatChunkSuffix(whole, MAX_PATH, pattern.c_str(), index);
  if (fits) {
    Check(fitsWhole && std::wcscmp(out, whole) == 0 && std::wcslen(out) < room);
  } else if (room > 0) {
    Check(out[0] == L'\0');
  }
  if (fitsWhole) {
    const std::wstring name = whole;
    Check(!name.empty() && name.back() != L'.' && name.back() != L' ');
    Check(!EqualsFolded(name, kScriptSuffix) && !EqualsFolded(name, kHeaderSuffix) &&
          !EqualsFolded(name, kTempSuffix));
    Check(name.find(L'/') == std::wstring::npos);
  }
  return 0;
}
