// The Win32 file services are the system's own; this is what the layer adds.
#include "platform/platform.h"

#undef CopyFileW

BOOL PlCopyFileWritable(LPCWSTR source, LPCWSTR target, BOOL failIfExists) {
  if (!CopyFileW(source, target, failIfExists)) return FALSE;
  DWORD attributes = GetFileAttributesW(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return TRUE;
  attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return SetFileAttributesW(target, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
}

bool PlIsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
