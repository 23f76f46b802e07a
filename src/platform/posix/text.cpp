// Lossless conversion between the system's bytes and the program's wide text.
#include "platform/posix/text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <cwchar>

bool PlIsSeparator(wchar_t c) { return c == L'/'; }

namespace {

wchar_t EscapeByte(char byte) {
  return static_cast<wchar_t>(kEscapedFirst + static_cast<unsigned char>(byte));
}

// True when `wc`, encoded in the state `state` (a copy, left unchanged),
// gives back exactly the `count` bytes at `bytes`. A character that would
// come back as other bytes (a decoder that takes several forms for one
// character) must be carried as escaped bytes instead.
bool EncodesBackTo(wchar_t wc, mbstate_t state, const char* bytes, size_t count) {
  char again[MB_LEN_MAX];
  size_t n = wcrtomb(again, wc, &state);
  return n == count && std::memcmp(again, bytes, count) == 0;
}

}  // namespace

bool PlDecode(const char* bytes, size_t count, wchar_t* out, size_t room) {
  if (room == 0) return false;
  mbstate_t in{};
  mbstate_t back{};  // the encoder's state, kept in step with the decoder's
  size_t used = 0;
  size_t at = 0;
  while (at < count) {
    if (used + 1 >= room) {
      out[0] = L'\0';
      return false;
    }
    wchar_t wc = 0;
    size_t n = mbrtowc(&wc, bytes + at, count - at, &in);
    if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      // Not a character (invalid, cut off at the end, or a NUL byte that a
      // name cannot hold): carry the first byte alone and decode afresh.
      out[used++] = EscapeByte(bytes[at]);
      at += 1;
      in = mbstate_t{};
      back = mbstate_t{};
      continue;
    }
    if (PlIsEscapedByte(wc) || !EncodesBackTo(wc, back, bytes + at, n)) {
      // A decoded character that would read as escaped bytes, or that would
      // not encode back to these bytes: carry each byte on its own.
      for (size_t i = 0; i < n; ++i) {
        if (used + 1 >= room) {
          out[0] = L'\0';
          return false;
        }
        out[used++] = EscapeByte(bytes[at + i]);
      }
      at += n;
      in = mbstate_t{};
      back = mbstate_t{};
      continue;
    }
    char scratch[MB_LEN_MAX];
    wcrtomb(scratch, wc, &back);  // keep the encoder's state in step
    out[used++] = wc;
    at += n;
  }
  out[used] = L'\0';
  return true;
}

bool PlEncode(const wchar_t* text, char* out, size_t room) {
  if (room == 0) return false;
  mbstate_t state{};
  size_t used = 0;
  char one[MB_LEN_MAX];
  for (const wchar_t* p = text;; ++p) {
    size_t n;
    if (*p != L'\0' && PlIsEscapedByte(*p)) {
      one[0] = static_cast<char>(static_cast<unsigned char>(*p - kEscapedFirst));
      n = 1;
    } else {
      // For the terminator this also writes the shift reset that a stateful
      // encoding needs at the end.
      n = wcrtomb(one, *p, &state);
      if (n == static_cast<size_t>(-1)) {
        out[0] = '\0';
        return false;
      }
    }
    if (n > room - used) {
      out[0] = '\0';
      return false;
    }
    std::memcpy(out + used, one, n);
    used += n;
    if (*p == L'\0') return true;
  }
}

bool PlEncodePath(const wchar_t* path, char* out) {
  size_t length = 0;
  while (length < MAX_PATH && path[length] != L'\0') ++length;
  if (length >= MAX_PATH) {
    out[0] = '\0';
    return false;
  }
  return PlEncode(path, out, kPathBytes);
}

void PlDecodeWord(const char* word, wchar_t* out, size_t room) {
  if (PlDecode(word, std::strlen(word), out, room)) return;
  for (size_t i = 0; i + 1 < room; ++i) out[i] = L'\xFFFD';
  out[room - 1] = L'\0';
}

DWORD PlAttributesAt(int dirFd, const char* name) {
  struct stat own;
  if (fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) != 0) return INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(own.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(own.st_mode)) {
    // A link is a reparse point; one that leads to a directory is also a
    // directory, so the walk neither splits it nor enters it.
    struct stat target;
    DWORD attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    if (fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
      attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    return attributes;
  }
  if ((own.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}
