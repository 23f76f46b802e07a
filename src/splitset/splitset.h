// The two operations on split sets. Each returns 1 when it succeeded and 0
// when it did not, and prints nothing.
#pragma once

#include <cstdint>

// Turns the file at `basePath` into its split set (the script and header
// files copied beside it, its bytes in chunks of `chunkSize` named by
// `pattern`) and removes it once the whole set stands on stable storage.
int SplitFile(const wchar_t* scriptPath, const wchar_t* headerPath, const wchar_t* basePath,
              const wchar_t* pattern, uint32_t chunkSize);

// Rebuilds the file of the split set whose script companion is
// `scriptCompanionPath`, then removes the set.
int JoinFile(const wchar_t* scriptCompanionPath, const wchar_t* pattern);
