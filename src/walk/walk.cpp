#include "walk/walk.h"

#include "platform/platform.h"
#include "splitset/splitset.h"

namespace {

const wchar_t* ProgressFormat(Mode mode) {
  return mode == Mode::Split ? L"Splitting : %ls\n" : L"Joining : %ls\n";
}

// Reports an entry whose path does not fit a PathBuffer: its progress line,
// with the path printed from its parts, and a failure.
void ReportTooLong(Mode mode, const wchar_t* directory, const wchar_t* name) {
  PlPrint(
      mode == Mode::Split ? L"Splitting : %ls" PL_SEP L"%ls\n" : L"Joining : %ls" PL_SEP L"%ls\n",
      directory, name);
  PlPrint(L"Failed.\n");
}

// Reports a directory that cannot be listed because its listing pattern
// does not fit.
void ReportUnlistable(Mode mode, const wchar_t* directory) {
  PlPrint(ProgressFormat(mode), directory);
  PlPrint(L"Failed.\n");
}

}  // namespace

void WalkDirectory(const wchar_t* directory, const wchar_t* filter, Mode mode,
                   const wchar_t* scriptPath, const wchar_t* headerPath, const wchar_t* pattern,
                   uint32_t chunkSize) {
  PathBuffer path;
  WIN32_FIND_DATAW entry;

  // File pass: the files that match the filter, or in join mode the script
  // companions of the files that matched it when they were split.
  bool listable = mode == Mode::Split
                      ? PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls", directory, filter)
                      : PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls.cgi", directory, filter);
  if (!listable) {
    ReportUnlistable(mode, directory);
  } else {
    HANDLE find = FindFirstFileW(path, &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls", directory, entry.cFileName)) {
          ReportTooLong(mode, directory, entry.cFileName);
          continue;
        }
        PlPrint(ProgressFormat(mode), path);
        int done = mode == Mode::Split ? SplitFile(scriptPath, headerPath, path, pattern, chunkSize)
                                       : JoinFile(path, pattern);
        PlPrint(done ? L"Succeeded.\n" : L"Failed.\n");
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
  }

  // Directory pass: every subdirectory but those whose names begin with a
  // dot and those that are links.
  if (!PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"*", directory)) {
    if (listable) ReportUnlistable(mode, directory);
    return;
  }
  HANDLE find = FindFirstFileW(path, &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (entry.cFileName[0] == L'.') continue;
    DWORD attributes = entry.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    if (!PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls", directory, entry.cFileName)) {
      ReportTooLong(mode, directory, entry.cFileName);
      continue;
    }
    WalkDirectory(path, filter, mode, scriptPath, headerPath, pattern, chunkSize);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}
