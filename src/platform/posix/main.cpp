// The POSIX start-up: the user's locale, the command-line words as wide text.
#include <clocale>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/text.h"

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  // A write beyond the file size limit then fails with EFBIG (and the
  // operation with it) instead of ending the process.
  signal(SIGXFSZ, SIG_IGN);

  // Each word gets room for as many characters as it has bytes, which is
  // always enough: a byte decodes to at most one character.
  std::vector<std::vector<wchar_t>> words(static_cast<size_t>(argc));
  std::vector<wchar_t*> list(static_cast<size_t>(argc) + 1, nullptr);
  for (size_t i = 0; i < words.size(); ++i) {
    words[i].resize(std::strlen(argv[i]) + 1);
    PlDecodeWord(argv[i], words[i].data(), words[i].size());
    list[i] = words[i].data();
  }
  return ParcelotMain(argc, list.data());
}
