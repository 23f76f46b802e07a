// Fuzzes the command line: words separated by NUL bytes, read as a whole
// command line and each converted as a size word. Every text the parser
// keeps must end within its PathBuffer, and a pattern it accepts must be one
// that the pattern check accepts.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "fuzz_text.h"
#include "splitset/naming.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsWithin(const wchar_t* text) { return wmemchr(text, L'\0', MAX_PATH) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> words = {L"parcelot"};
  size_t start = 0;
  for (size_t i = 0; i <= size && words.size() < 12; ++i) {
    if (i == size || data[i] == 0) {
      words.push_back(WideFromBytes(data + start, i - start));
      start = i + 1;
    }
  }
  std::vector<wchar_t*> list;
  for (std::wstring& word : words) {
    ConvertSizeWord(word.c_str());
    list.push_back(&word[0]);
  }
  list.push_back(nullptr);

  RunSettings settings;
  CommandLine result = ParseCommandLine(static_cast<int>(words.size()), list.data(), &settings);
  if (result == CommandLine::Run) {
    Check(EndsWithin(settings.rootDirectory) && EndsWithin(settings.filter) &&
          EndsWithin(settings.extensionPattern));
    Check(IsValidExtensionPattern(settings.extensionPattern));
    if (settings.hasCompanions) {
      Check(EndsWithin(settings.headerPath) && EndsWithin(settings.scriptPath));
      Check(settings.chunkSize != 0);
    }
  }
  return 0;
}
