// The tree walk: hands every matching file of a directory tree to the run's
// operation and prints a progress line and a result line for each.
#pragma once

#include <cstdint>

enum class Mode { Split, Join };

// Visits `directory` and every directory below it, files first, then the
// subdirectories in listing order. In join mode the script and header paths
// are null and the chunk size is 0.
void WalkDirectory(const wchar_t* directory, const wchar_t* filter, Mode mode,
                   const wchar_t* scriptPath, const wchar_t* headerPath, const wchar_t* pattern,
                   uint32_t chunkSize);
