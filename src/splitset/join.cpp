#include <cstring>
#include <cwchar>

#include "platform/platform.h"
#include "splitset/naming.h"
#include "splitset/splitset.h"

namespace {

enum class ChunkResult { Copied, Missing, Failed };

// The chunk buffer: memory from the system, as large as the largest chunk
// met so far, so that the join holds one chunk's bytes at a time and reuses
// the same pages from chunk to chunk.
struct ChunkBuffer {
  void* memory;
  DWORD size;
};

bool Reserve(ChunkBuffer* buffer, DWORD size) {
  if (size <= buffer->size) return true;
  if (buffer->memory != nullptr) VirtualFree(buffer->memory, 0, MEM_RELEASE);
  buffer->memory = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  buffer->size = buffer->memory != nullptr ? size : 0;
  return buffer->memory != nullptr;
}

// Appends the chunk named `name` to `output`, whole or not at all: a chunk
// that cannot be opened ends the chunks; an empty one, one of 2^32 bytes or
// more, or one whose bytes cannot all be moved fails the join.
ChunkResult AppendChunk(const wchar_t* name, HANDLE output, ChunkBuffer* buffer) {
  HANDLE chunk = OpenForReading(name);
  if (chunk == INVALID_HANDLE_VALUE) return ChunkResult::Missing;
  DWORD high = 0;
  DWORD size = GetFileSize(chunk, &high);
  if (high != 0 || size == 0 || !Reserve(buffer, size)) {
    CloseHandle(chunk);
    return ChunkResult::Failed;
  }
  DWORD got = 0;
  bool read = ReadFile(chunk, buffer->memory, size, &got, nullptr) != FALSE && got == size;
  CloseHandle(chunk);
  DWORD written = 0;
  return read && WriteFile(output, buffer->memory, got, &written, nullptr) != FALSE
             ? ChunkResult::Copied
             : ChunkResult::Failed;
}

void Release(ChunkBuffer* buffer) {
  if (buffer->memory != nullptr) VirtualFree(buffer->memory, 0, MEM_RELEASE);
  buffer->memory = nullptr;
  buffer->size = 0;
}

// How the bytes of a file compare with the bytes that a set's chunks hold.
enum class Comparison { Same, Prefix, Other };

// Compares the regular file at `path` with the chunks of the set, named at
// `suffixAt` in `name` from index 0 up to the first that cannot be opened.
// Same: the file holds exactly the chunks' bytes. Prefix: it holds the
// start of them (nothing at all included). Other: anything else, and every
// case where a file cannot be read whole, or a chunk is one that the join
// would refuse. `*chunkCount` gets the number of chunks compared.
Comparison CompareWithSet(const wchar_t* path, wchar_t* name, size_t suffixAt,
                          const wchar_t* pattern, uint64_t* chunkCount) {
  *chunkCount = 0;
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return Comparison::Other;
  ChunkBuffer chunkBytes = {nullptr, 0};
  ChunkBuffer fileBytes = {nullptr, 0};
  Comparison result = Comparison::Other;
  for (uint64_t index = 0; index <= UINT32_MAX; ++index) {
    HANDLE chunk = INVALID_HANDLE_VALUE;
    if (FormatChunkSuffix(name + suffixAt, MAX_PATH - suffixAt, pattern,
                          static_cast<uint32_t>(index))) {
      chunk = OpenForReading(name);
    }
    if (chunk == INVALID_HANDLE_VALUE) {
      // The chunks end: the file must end here too.
      DWORD got = 0;
      char extra;
      if (ReadFile(file, &extra, 1, &got, nullptr) && got == 0) result = Comparison::Same;
      break;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(chunk, &high);
    DWORD got = 0;
    bool read = high == 0 && size != 0 && Reserve(&chunkBytes, size) && Reserve(&fileBytes, size) &&
                ReadFile(chunk, chunkBytes.memory, size, &got, nullptr) && got == size;
    CloseHandle(chunk);
    if (!read || !ReadFile(file, fileBytes.memory, size, &got, nullptr) ||
        std::memcmp(fileBytes.memory, chunkBytes.memory, got) != 0) {
      break;
    }
    if (got < size) {  // the file ended within the chunks' bytes
      result = Comparison::Prefix;
      break;
    }
    *chunkCount = index + 1;
  }
  Release(&chunkBytes);
  Release(&fileBytes);
  CloseHandle(file);
  return result;
}

// True for an entry that is a regular file, not a link, directory or other.
bool IsPlainFile(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// A handle that is closed when it goes out of scope, if it is one.
struct Held {
  HANDLE handle = INVALID_HANDLE_VALUE;
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() { Close(); }
  void Close() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
};

// Removes the set, whose bytes stand whole at the base path. The base file
// is held for reading and shared with no one meanwhile: no other run can
// open it or remove it, so no split of it can start and write members that
// this removal would take, and the last whole copy of the bytes stays. The
// script companion goes first, so that what may remain after an
// interruption is never taken for a set again, once the join's own hold on
// it is given up; if another run holds it by then, the whole set stays for
// a later join. Then the header companion goes, then the chunks from the
// last down to chunk 0. The file is whole in every case: the result is 1.
int RemoveSet(Held* script, const wchar_t* scriptCompanionPath, const wchar_t* basePath,
              wchar_t* name, size_t suffixAt, const wchar_t* pattern, uint64_t chunkCount) {
  Held base;
  base.handle = CreateFileW(basePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (base.handle == INVALID_HANDLE_VALUE) return 1;
  script->Close();
  if (!DeleteFileW(scriptCompanionPath)) return 1;
  const size_t room = MAX_PATH - suffixAt;
  PlCopy(name + suffixAt, room, kHeaderSuffix);
  DeleteFileW(name);
  while (chunkCount > 0) {
    --chunkCount;
    if (FormatChunkSuffix(name + suffixAt, room, pattern, static_cast<uint32_t>(chunkCount))) {
      DeleteFileW(name);
    }
  }
  return 1;
}

}  // namespace

int JoinFile(const wchar_t* scriptCompanionPath, const wchar_t* pattern) {
  // Every member's name is a suffix written at the position of the script
  // companion's ".cgi"; the text before it is the base path.
  PathBuffer name;
  if (!PlCopy(name, MAX_PATH, scriptCompanionPath)) return 0;
  wchar_t* dot = std::wcsrchr(name, L'.');
  if (dot == nullptr || !EqualIgnoringCase(dot, kScriptSuffix)) return 0;
  const size_t suffixAt = static_cast<size_t>(dot - name);
  const size_t room = MAX_PATH - suffixAt;

  // A split set has a script companion that is a file, and its header
  // companion beside it; neither is read. The script companion is held,
  // others allowed only to read it, until the set is removed: a split of
  // the same file cannot copy or hold it meanwhile, so none writes a member
  // or removes the base file while this join reads, rebuilds or compares.
  Held script;
  script.handle = OpenForReading(scriptCompanionPath);
  if (script.handle == INVALID_HANDLE_VALUE) return 0;
  if (!PlCopy(name + suffixAt, room, kHeaderSuffix)) return 0;
  HANDLE companion = OpenForReading(name);
  if (companion == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(companion);

  // The file is rebuilt under a temporary name and moved to the base path
  // only when it is whole, and only if nothing stands there: a file there
  // may be the only whole copy of these bytes (a source whose split failed).
  PathBuffer basePath;
  PathBuffer tempPath;
  name[suffixAt] = L'\0';
  if (!PlCopy(basePath, MAX_PATH, name) ||
      !PlFormat(tempPath, MAX_PATH, L"%ls%ls", basePath, kTempSuffix)) {
    return 0;
  }
  if (GetFileAttributesW(basePath) != INVALID_FILE_ATTRIBUTES) {
    // A file that holds exactly the set's bytes is the work of an earlier
    // join that was stopped before it removed the set: the set goes now,
    // once that file is surely on stable storage. Anything else stays.
    uint64_t chunkCount = 0;
    if (!IsPlainFile(basePath) ||
        CompareWithSet(basePath, name, suffixAt, pattern, &chunkCount) != Comparison::Same ||
        !FlushExisting(basePath)) {
      return 0;
    }
    return RemoveSet(&script, scriptCompanionPath, basePath, name, suffixAt, pattern, chunkCount);
  }
  HANDLE output = CreateFileW(tempPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    // What stands at the temporary name is not ours to replace, unless it
    // is a file whose bytes all stand in the set, in order from its start:
    // what a join that was stopped left there. Only such a file goes.
    uint64_t chunkCount = 0;
    if (!IsPlainFile(tempPath) ||
        CompareWithSet(tempPath, name, suffixAt, pattern, &chunkCount) == Comparison::Other ||
        !DeleteFileW(tempPath)) {
      return 0;
    }
    output = CreateFileW(tempPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return 0;
  }

  // Chunks from index 0 up to the first that cannot be opened. A name that
  // does not fit cannot be opened either: the chunks end there.
  bool failed = false;
  uint64_t joined = 0;
  ChunkBuffer buffer = {nullptr, 0};
  while (joined <= UINT32_MAX) {
    uint32_t index = static_cast<uint32_t>(joined);
    if (!FormatChunkSuffix(name + suffixAt, room, pattern, index)) break;
    ChunkResult result = AppendChunk(name, output, &buffer);
    if (result == ChunkResult::Missing) break;
    if (result == ChunkResult::Failed) {
      failed = true;
      break;
    }
    ++joined;
  }
  Release(&buffer);

  failed = failed || !FlushFileBuffers(output);
  CloseHandle(output);
  if (failed || !MoveFileExW(tempPath, basePath, MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(tempPath);
    return 0;
  }

  // The file is whole and in place: the set goes.
  return RemoveSet(&script, scriptCompanionPath, basePath, name, suffixAt, pattern, joined);
}
