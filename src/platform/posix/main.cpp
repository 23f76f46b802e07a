// The POSIX start-up: the user's locale, the command-line words as wide text.
#include <clocale>
#include <csignal>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace {

// The program reads only a handful of words; more than kMaxWords are as wrong
// as one word more than it takes, so only the first kMaxWords are passed
// (with that count). A word has room for kWordRoom - 1 characters: Linux
// passes no word longer than 32 pages (131,071 bytes with 4 KiB pages), and
// a byte decodes to at most one character, so every word arrives whole. A
// longer word (larger pages) becomes a text of kWordRoom - 1 characters that
// no caller takes, never a shorter word. The buffers are static: their pages
// are touched only as far as the words fill them.
constexpr int kMaxWords = 16;
constexpr size_t kWordRoom = 131072;

wchar_t g_words[kMaxWords][kWordRoom];
wchar_t* g_wordList[kMaxWords + 1];

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  // A write beyond the file size limit then fails with EFBIG (and the
  // operation with it) instead of ending the process.
  signal(SIGXFSZ, SIG_IGN);

  int count = argc < kMaxWords ? argc : kMaxWords;
  for (int i = 0; i < count; ++i) {
    PlDecodeWord(argv[i], g_words[i], kWordRoom);
    g_wordList[i] = g_words[i];
  }
  g_wordList[count] = nullptr;
  return ParcelotMain(count, g_wordList);
}
