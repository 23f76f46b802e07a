#include "splitset/naming.h"

#include <cwctype>

const wchar_t kScriptSuffix[] = L".cgi";
const wchar_t kHeaderSuffix[] = L".mime";
const wchar_t kTempSuffix[] = L".~tmp";

bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) {
      return false;
    }
    if (*a == L'\0') return true;
  }
}

HANDLE OpenForReading(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool FlushExisting(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool flushed = FlushFileBuffers(file) != FALSE;
  CloseHandle(file);
  return flushed;
}

bool FormatChunkSuffix(wchar_t* out, size_t room, const wchar_t* pattern, uint32_t index) {
  return PlFormat(out, room, pattern, static_cast<unsigned int>(index));
}

namespace {

// The parts of a pattern that the validity checks need.
struct PatternShape {
  size_t prefixLength;  // characters the text before the conversion prints
  size_t suffixLength;  // characters the text after it prints
  unsigned base;        // 8, 10 or 16
};

bool IsFlag(wchar_t c) { return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0'; }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads the pattern's form; false when it is not exactly one supported
// conversion among plain text.
bool ReadShape(const wchar_t* pattern, PatternShape* shape) {
  int conversions = 0;
  size_t printed = 0;
  for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
    if (PlIsSeparator(*p)) return false;
    if (*p != L'%') {
      ++printed;
      continue;
    }
    ++p;
    if (*p == L'%') {
      ++printed;
      continue;
    }
    while (IsFlag(*p)) ++p;
    // A width or a precision of MAX_PATH or more prints a name that never
    // fits a PathBuffer; it is refused here, before the formatting of a
    // huge one (the system pads it out in full) could keep the run busy.
    size_t width = 0;
    while (IsDigit(*p)) {
      if (width < MAX_PATH) width = width * 10 + static_cast<size_t>(*p - L'0');
      ++p;
    }
    size_t precision = 0;
    if (*p == L'.') {
      ++p;
      while (IsDigit(*p)) {
        if (precision < MAX_PATH) precision = precision * 10 + static_cast<size_t>(*p - L'0');
        ++p;
      }
    }
    if (width >= MAX_PATH || precision >= MAX_PATH) return false;
    switch (*p) {
      case L'd':
      case L'i':
      case L'u':
        shape->base = 10;
        break;
      case L'o':
        shape->base = 8;
        break;
      case L'x':
      case L'X':
        shape->base = 16;
        break;
      default:
        return false;
    }
    if (++conversions > 1) return false;
    shape->prefixLength = printed;
    printed = 0;
  }
  shape->suffixLength = printed;
  return conversions == 1;
}

unsigned DigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return static_cast<unsigned>(c - L'0');
  if (c >= L'a' && c <= L'f') return static_cast<unsigned>(c - L'a' + 10);
  if (c >= L'A' && c <= L'F') return static_cast<unsigned>(c - L'A' + 10);
  return 99;
}

// Reads back the number that a conversion may have printed as `text`:
// padding, sign, "0x" and leading zeros are dropped. False when what
// remains is no number of the base that fits 32 bits.
bool ReadPrintedNumber(const wchar_t* text, size_t length, unsigned base, uint32_t* value) {
  size_t i = 0;
  while (i < length && (text[i] == L' ' || text[i] == L'+' || text[i] == L'-')) ++i;
  if (base == 16 && i + 1 < length && text[i] == L'0' &&
      (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    i += 2;
  }
  while (length > i && text[length - 1] == L' ') --length;
  uint64_t v = 0;
  for (; i < length; ++i) {
    unsigned d = DigitValue(text[i]);
    if (d >= base) return false;
    v = v * base + d;
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

// True when some chunk index makes the pattern print `name`, case ignored.
bool CanName(const wchar_t* pattern, const PatternShape& shape, const wchar_t* name) {
  size_t length = std::wcslen(name);
  if (length < shape.prefixLength + shape.suffixLength) return false;
  // Every index that could print the middle part: 0 (which a precision of 0
  // prints as nothing), the number read back, and its negation, which a
  // signed conversion prints with a minus sign.
  uint32_t candidates[3] = {0, 0, 0};
  size_t count = 1;
  uint32_t value = 0;
  if (ReadPrintedNumber(name + shape.prefixLength, length - shape.prefixLength - shape.suffixLength,
                        shape.base, &value)) {
    candidates[count++] = value;
    candidates[count++] = 0u - value;
  }
  for (size_t c = 0; c < count; ++c) {
    PathBuffer printed;
    if (FormatChunkSuffix(printed, MAX_PATH, pattern, candidates[c]) &&
        EqualIgnoringCase(printed, name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsValidExtensionPattern(const wchar_t* pattern) {
  PatternShape shape = {0, 0, 10};
  if (!ReadShape(pattern, &shape)) return false;
  // The shortest suffixes are those of index 0 and 1: an empty one, or one
  // that ends in padding, shows there if anywhere. A dot can only come from
  // the pattern's own text.
  for (uint32_t index = 0; index < 2; ++index) {
    PathBuffer printed;
    if (!FormatChunkSuffix(printed, MAX_PATH, pattern, index)) continue;
    size_t length = std::wcslen(printed);
    if (length == 0 || printed[length - 1] == L'.' || printed[length - 1] == L' ') return false;
  }
  return !CanName(pattern, shape, kScriptSuffix) && !CanName(pattern, shape, kHeaderSuffix) &&
         !CanName(pattern, shape, kTempSuffix);
}
