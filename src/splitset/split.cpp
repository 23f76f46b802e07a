#include <cwchar>

#include "platform/platform.h"
#include "splitset/naming.h"
#include "splitset/splitset.h"

namespace {

// Writes one chunk: creates (or empties) the file and writes the bytes. The
// chunk goes to stable storage later, with the rest of the set: one flush
// per member once all are written costs far less than a flush after each
// chunk, which would wait for the disk while the source's next bytes could
// already be read.
bool WriteChunk(const wchar_t* name, const void* bytes, DWORD count, bool* made) {
  HANDLE chunk = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (chunk == INVALID_HANDLE_VALUE) return false;
  *made = true;
  DWORD written = 0;
  bool done = WriteFile(chunk, bytes, count, &written, nullptr) != FALSE;
  CloseHandle(chunk);
  return done;
}

// Puts the whole set on stable storage: the script companion through the
// handle that holds it, the header companion, and the chunks 0 to count - 1,
// whose names are written at `suffixAt` in `name`.
bool FlushSet(HANDLE script, wchar_t* name, size_t suffixAt, const wchar_t* headerName,
              const wchar_t* pattern, uint64_t count) {
  if (!FlushFileBuffers(script) || !FlushExisting(headerName)) return false;
  for (uint64_t index = 0; index < count; ++index) {
    if (!FormatChunkSuffix(name + suffixAt, MAX_PATH - suffixAt, pattern,
                           static_cast<uint32_t>(index)) ||
        !FlushExisting(name)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int SplitFile(const wchar_t* scriptPath, const wchar_t* headerPath, const wchar_t* basePath,
              const wchar_t* pattern, uint32_t chunkSize) {
  // Every member is named by a suffix written after the base path. The
  // companions' names must fit before anything is made, so that a split
  // never leaves a lone script companion for want of room.
  PathBuffer name;
  PathBuffer headerName;
  const size_t suffixAt = std::wcslen(basePath);
  if (!PlFormat(name, MAX_PATH, L"%ls%ls", basePath, kScriptSuffix) ||
      !PlFormat(headerName, MAX_PATH, L"%ls%ls", basePath, kHeaderSuffix)) {
    return 0;
  }

  HANDLE source = OpenForReading(basePath);
  if (source == INVALID_HANDLE_VALUE) return 0;

  // The script companion is held for writing, others allowed only to read
  // it, from its copy until the split has ended. It is how two runs keep
  // out of each other's way on one file: another split cannot copy or hold
  // it, so it stops before it writes anything, and a join of the set cannot
  // open it, so it does not start, until this split has removed the source.
  // A join holds it in turn while it works, and this split then stops here.
  HANDLE script = INVALID_HANDLE_VALUE;
  if (CopyFileW(scriptPath, name, FALSE)) {
    script = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (script == INVALID_HANDLE_VALUE) {
    CloseHandle(source);
    return 0;
  }
  void* buffer = nullptr;
  if (CopyFileW(headerPath, headerName, FALSE)) {
    buffer = VirtualAlloc(nullptr, chunkSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  if (buffer == nullptr) {
    CloseHandle(script);
    CloseHandle(source);
    return 0;
  }

  bool failed = false;
  bool madeChunk = false;  // the failure came after this split made chunk `index`
  uint32_t index = 0;
  bool indexLeft = true;  // false once chunk 4,294,967,295 is written
  for (;;) {
    madeChunk = false;
    DWORD got = 0;
    if (!ReadFile(source, buffer, chunkSize, &got, nullptr)) {
      failed = true;
      break;
    }
    if (got == 0) break;
    if (!indexLeft || !FormatChunkSuffix(name + suffixAt, MAX_PATH - suffixAt, pattern, index) ||
        !WriteChunk(name, buffer, got, &madeChunk)) {
      failed = true;
      break;
    }
    if (index == UINT32_MAX) {
      indexLeft = false;
    } else {
      ++index;
    }
  }

  // The file named for the index where the chunks end goes: what an earlier
  // split of a longer file left there, or the chunk whose writing failed.
  // After a failed read or a chunk that could not be created, what stands at
  // that name is not this split's: it may be the chunk of another run that
  // splits the same file at the same time (whose reads fail once that run
  // removed the source), and it stays.
  if (indexLeft && (!failed || madeChunk) &&
      FormatChunkSuffix(name + suffixAt, MAX_PATH - suffixAt, pattern, index)) {
    DeleteFileW(name);
  }

  if (!failed) {
    // The whole set goes to stable storage, and a last read at the end of
    // the source confirms that nothing changed it while it was split.
    const uint64_t count = indexLeft ? index : uint64_t{UINT32_MAX} + 1;
    DWORD got = 0;
    failed = !FlushSet(script, name, suffixAt, headerName, pattern, count) ||
             !ReadFile(source, buffer, 1, &got, nullptr) || got != 0;
  }

  VirtualFree(buffer, 0, MEM_RELEASE);
  CloseHandle(source);
  if (!failed) DeleteFileW(basePath);
  CloseHandle(script);
  return failed ? 0 : 1;
}
