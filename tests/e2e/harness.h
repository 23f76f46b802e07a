// A small harness for the end-to-end tests: temporary trees, files with raw
// byte names, runs of the built program with a chosen current directory and
// locale, and listings of a tree to compare with what a test expects.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::string;

// A tree as a map from a path relative to its root to what stands there:
// a regular file's bytes; "" for a directory, whose key ends in "/"; for a
// symbolic link "@link:" and its target; for anything else "@special".
using Tree = std::map<std::string, Bytes>;

// The program under test: the executable PARCELOT_E2E_EXE (default: the one
// built beside these tests) run through the words of PARCELOT_E2E_RUNNER
// (e.g. "wine"; default: none), unless the environment variable
// PARCELOT_E2E_COMMAND holds a whole command prefix (words separated by
// spaces, e.g. "wine /path/parcelot.exe") that runs it instead.
std::vector<std::string> Command();
// The command that runs the executable file `exe` (through the runner).
std::vector<std::string> CommandFor(const std::string& exe);
// True when PARCELOT_E2E_COMMAND replaces the executable; tests that need
// the executable file itself skip then.
bool CommandOverridden();
// The executable's path, the directory that holds it and its file name.
std::string ExePath();
std::string ExeDir();
std::string ExeName();

// The platform whose behaviour the tests expect: PARCELOT_E2E_TARGET=windows
// for the Windows program (run under Wine), else POSIX. On Windows the
// program takes and prints paths with "\" under the drive letter Z:, which
// Wine gives to "/", ends its lines with CR LF, matches names ignoring case
// and lists in the system's order.
bool WindowsTarget();
// A path of this harness ("/" separators) as the program takes and prints
// it: on Windows "\" separators, and "Z:" before an absolute path.
std::string Native(const std::string& path);
// UTF-8 text as the program prints it: on Windows in the code page of the
// user's locale, which under Wine is 1252 for the English locale it takes
// from LC_ALL (Windows would use the user's own), "?" for what it lacks.
std::string Shown(const std::string& utf8);

// Skips the test on the Windows target, with a one-line reason.
#define POSIX_ONLY(reason) \
  if (::e2e::WindowsTarget()) GTEST_SKIP() << "POSIX only: " << (reason)
// Skips the test on POSIX, with a one-line reason.
#define WINDOWS_ONLY(reason) \
  if (!::e2e::WindowsTarget()) GTEST_SKIP() << "Windows only: " << (reason)

struct RunOptions {
  std::string cwd;                   // empty: the test's own
  std::string locale = "C.UTF-8";    // the value of LC_ALL
  std::vector<std::string> env;      // more "NAME=value" entries
  std::vector<std::string> command;  // empty: Command()
  mode_t umask = 022;
  std::chrono::milliseconds timeout = std::chrono::seconds(20);
};

struct RunResult {
  Bytes out;
  Bytes err;
  int status = -1;  // exit status; -1 when it did not exit normally
  bool timedOut = false;
};

// Runs the program with the given words (raw bytes) after the command. On
// Windows a word that begins with "/" is passed as Native(word), and the
// output's CR LF line ends are read as "\n" (a bare LF shows as
// "<LF without CR>", so that a comparison fails).
RunResult Launch(const std::vector<std::string>& words, const RunOptions& options = {});

// Another process that holds a file open through the platform layer, as
// another run of the program would, from its making until it goes: `how` is
// "r" (reading, others allowed to read), "R" (reading, shared with no one)
// or "w" (writing, others allowed to read). It runs the helper
// PARCELOT_E2E_HOLD (default: the one built beside these tests) through the
// runner, so that on Windows it is a Windows process.
class Holder {
 public:
  Holder(const std::string& path, const std::string& how);
  ~Holder();
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  bool held() const { return held_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  bool held_ = false;
};
// True when the helper is known; tests that need it skip otherwise.
bool HolderAvailable();

// A directory made with mkdtemp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes a file, making its parent directories; `mode` is set exactly.
void WriteFile(const std::string& path, const Bytes& bytes, mode_t mode = 0644);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);  // lstat: any entry, links included
void MakeDirs(const std::string& path);
// Creates every entry of `tree` under `root` (files and directories only).
void MakeTree(const std::string& root, const Tree& tree);
// Lists everything under `root` (see Tree); symbolic links are not followed.
Tree ListTree(const std::string& root);
void RemoveAll(const std::string& path);
// The realpath of an existing path.
std::string RealPath(const std::string& path);

// Deterministic pseudo-random bytes (every byte value occurs).
Bytes Pattern(size_t length, unsigned seed = 1);

// Output helpers; the paths are harness paths, printed as Shown(Native()).
extern const char* const kTitle;  // "Parcelot\n\n"
std::string Splitting(const std::string& path, bool ok);
std::string Joining(const std::string& path, bool ok);
std::string Invalid();  // kTitle + "Invalid parameter.\n"

// The name suffix that a printf-style chunk pattern gives for an index.
std::string ChunkSuffix(const std::string& pattern, unsigned index);

// The members of a split set of `name` (relative), with their contents,
// as a split with chunk size `size` and `pattern` makes them.
Tree SplitSetOf(const std::string& name, const Bytes& content, unsigned size,
                const std::string& pattern, const Bytes& script, const Bytes& header);

// Compares a run's output with the expected one. On Windows, whose listing
// order is the system's, the file records (a progress line with its result
// line) are compared as a multiset after the lines before the first one;
// tests check the order that both platforms share themselves.
::testing::AssertionResult OutputsMatch(const std::string& expected, const std::string& actual);

// Succeeds when both trees are equal; otherwise lists the differences.
::testing::AssertionResult TreesEqual(const Tree& expected, const Tree& actual);

// A printable form of a tree difference for failure messages.
std::string Describe(const Tree& tree);

}  // namespace e2e
