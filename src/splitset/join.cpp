#include <cwchar>

#include "platform/platform.h"
#include "splitset/naming.h"
#include "splitset/splitset.h"

namespace {

HANDLE OpenForReading(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

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
  // companion beside it; neither is read.
  HANDLE companion = OpenForReading(scriptCompanionPath);
  if (companion == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(companion);
  if (!PlCopy(name + suffixAt, room, kHeaderSuffix)) return 0;
  companion = OpenForReading(name);
  if (companion == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(companion);

  // The file is rebuilt under a temporary name and moved to the base path
  // only when it is whole, and only if nothing stands there: a file there
  // may be the only whole copy of these bytes (a source whose split failed).
  // Whatever stands at the temporary name is not ours to replace either.
  PathBuffer basePath;
  PathBuffer tempPath;
  name[suffixAt] = L'\0';
  if (!PlCopy(basePath, MAX_PATH, name) ||
      !PlFormat(tempPath, MAX_PATH, L"%ls%ls", basePath, kTempSuffix) ||
      GetFileAttributesW(basePath) != INVALID_FILE_ATTRIBUTES) {
    return 0;
  }
  HANDLE output = CreateFileW(tempPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return 0;

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
  if (buffer.memory != nullptr) VirtualFree(buffer.memory, 0, MEM_RELEASE);

  failed = failed || !FlushFileBuffers(output);
  CloseHandle(output);
  if (failed || !MoveFileExW(tempPath, basePath, MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(tempPath);
    return 0;
  }

  // The file is whole and in place: the set goes, the script companion
  // under the path given, then the header companion, then the chunks from
  // the last down to chunk 0.
  DeleteFileW(scriptCompanionPath);
  PlCopy(name + suffixAt, room, kHeaderSuffix);
  DeleteFileW(name);
  while (joined > 0) {
    --joined;
    if (FormatChunkSuffix(name + suffixAt, room, pattern, static_cast<uint32_t>(joined))) {
      DeleteFileW(name);
    }
  }
  return 1;
}
