#include "cli/cli.h"

#include <clocale>
#include <cwchar>
#include <cwctype>

#include "splitset/naming.h"

namespace {

const wchar_t kDefaultPattern[] = L".%03u";
const wchar_t kDefaultHeader[] = L"default.mime";
const wchar_t kDefaultScript[] = L"default.cgi";

const wchar_t* const kUsage[] = {
    L"%ls -s [path] [filter] [size] [header] [script] [extension]\n",
    L"%ls -j [path] [filter] [extension]\n",
    L"-s              Split files.\n",
    L"-j              Join files.\n",
    L"[path]          Specify a path where files exist.\n",
    L"                If this argument is omitted, the files in the current directory\n",
    L"                will be processed.\n",
    L"[filter]        Specify a file name filter.\n",
    L"                * can be used as a wild card.\n",
    L"                If this argument is omitted, all files will be processed.\n",
    L"[size]          Specify size in bytes that files will be splitted into.\n",
    L"                If this argument is omitted, files will be splitted into 1MB.\n",
    L"[header]        Specify a file that contains MIME Content-Type header.\n",
    L"                If this argument is omitted, \"default.mime\" will be used.\n",
    L"[script]        Specify a CGI script file.\n",
    L"                If this argument is omitted, \"default.cgi\" will be used.\n",
    L"[extension]     Specify a name convention of the extension of splitted files.\n",
    L"                For example, if \".%%d\" is specified, then \"file.ext\" will be\n",
    L"                splitted into \"file.ext.0\", \"file.ext.1\", \"file.ext.2\" ... .\n",
    L"                If this argument is omitted, \".%%03u\" will be used.\n",
};

// The full path of the program's own executable; false when it does not
// fit a PathBuffer.
bool GetExecutablePath(wchar_t* out) {
  DWORD length = GetModuleFileNameW(nullptr, out, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

// The position just after the last separator of `path`, or 0 without one.
size_t NameOffset(const wchar_t* path) {
  size_t offset = 0;
  for (size_t i = 0; path[i] != L'\0'; ++i) {
    if (PlIsSeparator(path[i])) offset = i + 1;
  }
  return offset;
}

// `name` in the directory of the executable.
bool DefaultPath(wchar_t* out, const wchar_t* name) {
  if (!GetExecutablePath(out)) return false;
  size_t offset = NameOffset(out);
  return PlCopy(out + offset, MAX_PATH - offset, name);
}

bool CurrentDirectory(wchar_t* out) {
  DWORD length = GetCurrentDirectoryW(MAX_PATH, out);
  return length != 0 && length < MAX_PATH;
}

// The word at `position` if there is one, else null.
const wchar_t* Word(int count, wchar_t** words, int position) {
  return position < count ? words[position] : nullptr;
}

bool ContainsSeparator(const wchar_t* text) {
  for (; *text != L'\0'; ++text) {
    if (PlIsSeparator(*text)) return true;
  }
  return false;
}

void PrintUsage() {
  PathBuffer executable;
  if (!GetExecutablePath(executable)) {
    PlPrint(L"Invalid parameter.\n");
    return;
  }
  const wchar_t* name = executable + NameOffset(executable);
  for (const wchar_t* line : kUsage) PlPrint(line, name);
}

}  // namespace

uint32_t ConvertSizeWord(const wchar_t* word) {
  const wchar_t* p = word;
  while (std::iswspace(static_cast<wint_t>(*p))) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') {
    negative = *p == L'-';
    ++p;
  }
  unsigned base = 10;
  if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == L'0') {
    base = 8;
  }
  uint64_t magnitude = 0;
  for (;; ++p) {
    unsigned digit;
    if (*p >= L'0' && *p <= L'9') {
      digit = static_cast<unsigned>(*p - L'0');
    } else if (*p >= L'a' && *p <= L'z') {
      digit = static_cast<unsigned>(*p - L'a') + 10;
    } else if (*p >= L'A' && *p <= L'Z') {
      digit = static_cast<unsigned>(*p - L'A') + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFu) magnitude = 0x100000000u;  // saturates; clamped below
  }
  uint32_t value = magnitude > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

CommandLine ParseCommandLine(int count, wchar_t** words, RunSettings* settings) {
  int n = count - 1;
  if (n <= 0) return CommandLine::Usage;
  if (n <= 7 && EqualIgnoringCase(words[1], L"-s")) {
    settings->mode = Mode::Split;
  } else if (n <= 4 && EqualIgnoringCase(words[1], L"-j")) {
    settings->mode = Mode::Join;
  } else {
    return CommandLine::Invalid;
  }
  bool split = settings->mode == Mode::Split;

  const wchar_t* root = Word(count, words, 2);
  if (root != nullptr ? !PlCopy(settings->rootDirectory, MAX_PATH, root)
                      : !CurrentDirectory(settings->rootDirectory)) {
    return CommandLine::Invalid;
  }

  const wchar_t* filter = Word(count, words, 3);
  if (!PlCopy(settings->filter, MAX_PATH, filter != nullptr ? filter : L"*") ||
      ContainsSeparator(settings->filter)) {
    return CommandLine::Invalid;
  }

  const wchar_t* pattern = Word(count, words, split ? 7 : 4);
  if (!PlCopy(settings->extensionPattern, MAX_PATH,
              pattern != nullptr ? pattern : kDefaultPattern) ||
      !IsValidExtensionPattern(settings->extensionPattern)) {
    return CommandLine::Invalid;
  }

  settings->hasCompanions = split;
  settings->chunkSize = 0;
  settings->headerPath[0] = L'\0';
  settings->scriptPath[0] = L'\0';
  if (!split) return CommandLine::Run;

  const wchar_t* size = Word(count, words, 4);
  settings->chunkSize = size != nullptr ? ConvertSizeWord(size) : 0;
  if (settings->chunkSize == 0) settings->chunkSize = kDefaultChunkSize;

  const wchar_t* header = Word(count, words, 5);
  if (header != nullptr ? !PlCopy(settings->headerPath, MAX_PATH, header)
                        : !DefaultPath(settings->headerPath, kDefaultHeader)) {
    return CommandLine::Invalid;
  }
  const wchar_t* script = Word(count, words, 6);
  if (script != nullptr ? !PlCopy(settings->scriptPath, MAX_PATH, script)
                        : !DefaultPath(settings->scriptPath, kDefaultScript)) {
    return CommandLine::Invalid;
  }
  return CommandLine::Run;
}

int ParcelotMain(int count, wchar_t** words) {
  std::setlocale(LC_ALL, "");
  PlPrint(L"Parcelot\n");
  PlPrint(L"\n");

  static RunSettings settings;
  switch (ParseCommandLine(count, words, &settings)) {
    case CommandLine::Usage:
      PrintUsage();
      break;
    case CommandLine::Invalid:
      PlPrint(L"Invalid parameter.\n");
      break;
    case CommandLine::Run:
      WalkDirectory(settings.rootDirectory, settings.filter, settings.mode,
                    settings.hasCompanions ? settings.scriptPath : nullptr,
                    settings.hasCompanions ? settings.headerPath : nullptr,
                    settings.extensionPattern, settings.chunkSize);
      break;
  }
  return 0;
}
