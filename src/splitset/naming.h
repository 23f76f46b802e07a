// How the members of a split set are named: the companions' suffixes, the
// join's temporary name, and the extension pattern that names the chunks.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The script companion is the base path followed by this suffix, the header
// companion by the next one. The join writes the file it rebuilds under the
// third name and moves it to the base path once it is complete.
extern const wchar_t kScriptSuffix[];
extern const wchar_t kHeaderSuffix[];
extern const wchar_t kTempSuffix[];

// Whole-text comparison under the selected locale's lower-case mapping.
bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b);

// True for an extension pattern that names every chunk index apart: exactly
// one integer conversion (d i u o x X, with optional flags "-+ #0", a width
// and a precision written as digits, no length modifier), any other text
// with "%%" standing for "%", no path separator, and no index whose suffix
// is empty, a companion's or the temporary suffix (case ignored), or ends in
// a dot or a space. Only a pattern that passes is ever used as a format.
bool IsValidExtensionPattern(const wchar_t* pattern);

// Writes the suffix of chunk `index` (the pattern formatted with it) into
// `out`, which has room for `room` characters including the terminator.
// False when it does not fit.
bool FormatChunkSuffix(wchar_t* out, size_t room, const wchar_t* pattern, uint32_t index);

// Opens a member or source for reading, others allowed only to read it.
HANDLE OpenForReading(const wchar_t* path);

// Puts an existing file that the program wrote on stable storage, with its
// directory entry.
bool FlushExisting(const wchar_t* path);
