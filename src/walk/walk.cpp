#include "walk/walk.h"

#include <cstdlib>
#include <cwchar>

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
// does not fit, or because no memory can be had for its names.
void ReportUnlistable(Mode mode, const wchar_t* directory) {
  PlPrint(ProgressFormat(mode), directory);
  PlPrint(L"Failed.\n");
}

// The names of the files that one listing returned, each with its
// terminator, one after the other.
struct NameList {
  wchar_t* text = nullptr;
  size_t used = 0;
  size_t room = 0;
};

bool Append(NameList* names, const wchar_t* name) {
  size_t length = std::wcslen(name) + 1;
  if (names->room - names->used < length) {
    size_t room = names->room < 4096 ? 4096 : names->room * 2;
    while (room - names->used < length) room *= 2;
    void* grown = std::realloc(names->text, room * sizeof(wchar_t));
    if (grown == nullptr) return false;
    names->text = static_cast<wchar_t*>(grown);
    names->room = room;
  }
  std::wmemcpy(names->text + names->used, name, length);
  names->used += length;
  return true;
}

// Lists `pattern` and keeps the names of the entries that are no
// directories. Nothing listed is an empty list; false only when memory for
// the names runs out.
bool ReadFileNames(const wchar_t* pattern, NameList* names) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool kept = true;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    kept = Append(names, entry.cFileName);
  } while (kept && FindNextFileW(find, &entry));
  FindClose(find);
  return kept;
}

}  // namespace

void WalkDirectory(const wchar_t* directory, const wchar_t* filter, Mode mode,
                   const wchar_t* scriptPath, const wchar_t* headerPath, const wchar_t* pattern,
                   uint32_t chunkSize) {
  PathBuffer path;
  WIN32_FIND_DATAW entry;

  // File pass: the files that match the filter, or in join mode the script
  // companions of the files that matched it when they were split. The
  // matching names are read in full before any of them is processed: the
  // operations make files in this directory (companions, chunks, a rebuilt
  // file), and a system's listing may return entries made after it started
  // (Windows' does), which would then be processed in this same pass. The
  // names live in memory that the walk owns, one directory's at a time.
  bool listable = mode == Mode::Split
                      ? PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls", directory, filter)
                      : PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls.cgi", directory, filter);
  NameList names;
  bool reported = !listable || !ReadFileNames(path, &names);
  if (reported) {
    ReportUnlistable(mode, directory);
  } else {
    for (size_t at = 0; at < names.used; at += std::wcslen(names.text + at) + 1) {
      const wchar_t* name = names.text + at;
      if (!PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"%ls", directory, name)) {
        ReportTooLong(mode, directory, name);
        continue;
      }
      PlPrint(ProgressFormat(mode), path);
      int done = mode == Mode::Split ? SplitFile(scriptPath, headerPath, path, pattern, chunkSize)
                                     : JoinFile(path, pattern);
      PlPrint(done ? L"Succeeded.\n" : L"Failed.\n");
    }
  }
  std::free(names.text);

  // Directory pass: every subdirectory but those whose names begin with a
  // dot and those that are links.
  if (!PlFormat(path, MAX_PATH, L"%ls" PL_SEP L"*", directory)) {
    if (!reported) ReportUnlistable(mode, directory);
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
