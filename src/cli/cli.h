// The command line: what a run is asked to do.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "walk/walk.h"

// The run's settings. In join mode the header and script paths are absent
// (hasCompanions is false) and the chunk size is 0.
struct RunSettings {
  Mode mode;
  PathBuffer rootDirectory;
  PathBuffer filter;
  uint32_t chunkSize;
  bool hasCompanions;
  PathBuffer headerPath;
  PathBuffer scriptPath;
  PathBuffer extensionPattern;
};

enum class CommandLine { Usage, Invalid, Run };

// The chunk size given as `defaultSize` when the word converts to 0.
constexpr uint32_t kDefaultChunkSize = 0x100000;

// Converts a size word as wcstoul with base 0 does, for a 32-bit result:
// leading white space, an optional sign, a base from the prefix (0x: 16, 0:
// 8, else 10), the digits up to the first other character; 0 without digits;
// a magnitude above 4,294,967,295 clamped to it; a minus sign negating the
// result modulo 2^32.
uint32_t ConvertSizeWord(const wchar_t* word);

// Reads the words after the program's name (words[0]) into `settings`.
CommandLine ParseCommandLine(int count, wchar_t** words, RunSettings* settings);
