// Conversion between the bytes that the system uses for names and words and
// the wide text of the program, for the POSIX platform layer.
//
// Decoding is lossless: a byte that does not decode in the locale's encoding
// becomes the wide character 0xDC00 + byte, and encoding turns such a
// character back into that very byte, so any name that the system gives can
// be handed back to it unchanged.
#pragma once

#include <climits>
#include <cstddef>

#include "platform/platform.h"

// Room for the bytes of every path that the layer accepts: fewer than
// MAX_PATH characters of at most MB_LEN_MAX bytes each, plus a shift reset
// and the terminator (MAX_PATH * MB_LEN_MAX covers both).
constexpr size_t kPathBytes = MAX_PATH * MB_LEN_MAX;

// The wide characters that carry one undecodable byte each.
constexpr wchar_t kEscapedFirst = 0xDC00;
constexpr wchar_t kEscapedLast = 0xDCFF;

inline bool PlIsEscapedByte(wchar_t c) { return c >= kEscapedFirst && c <= kEscapedLast; }

// Decodes `count` bytes into `out`, which has room for `room` wide
// characters including the terminator. False, with `out` empty, when the
// text does not fit.
bool PlDecode(const char* bytes, size_t count, wchar_t* out, size_t room);

// Encodes the wide text into `out` (room `room` bytes, terminator included).
// False, with `out` empty, when a character has no encoding in the locale or
// the bytes do not fit.
bool PlEncode(const wchar_t* text, char* out, size_t room);

// Encodes a path for a system call into `out` of kPathBytes bytes. False for
// a path of MAX_PATH characters or more (the layer refuses such names, as the
// Windows services do) and for a path that cannot be encoded.
bool PlEncodePath(const wchar_t* path, char* out);

// Decodes one command-line word into `out`. A word that does not fit is not
// cut short: `out` then gets room - 1 replacement characters, never a
// shorter word that was never given. Room for one character per byte of the
// word, plus the terminator, always fits.
void PlDecodeWord(const char* word, wchar_t* out, size_t room);

// The attributes of the entry `name` relative to the directory `dirFd` (or
// AT_FDCWD), as GetFileAttributesW and the listings report them: a symbolic
// link's own, with FILE_ATTRIBUTE_DIRECTORY added when it leads to a
// directory. INVALID_FILE_ATTRIBUTES when there is no such entry.
DWORD PlAttributesAt(int dirFd, const char* name);
