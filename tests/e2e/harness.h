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

// The program under test: PARCELOT_EXE, unless the environment variable
// PARCELOT_E2E_COMMAND holds a command prefix (words separated by spaces,
// e.g. "wine /path/parcelot.exe") that runs it instead.
std::vector<std::string> Command();
// True when PARCELOT_E2E_COMMAND replaces the built executable; tests that
// need the executable file itself skip then.
bool CommandOverridden();
// The built executable's path and the directory that holds it.
std::string ExePath();
std::string ExeDir();

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

// Runs the program with the given words (raw bytes) after the command.
RunResult Launch(const std::vector<std::string>& words, const RunOptions& options = {});

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

// Output helpers.
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

// Succeeds when both trees are equal; otherwise lists the differences.
::testing::AssertionResult TreesEqual(const Tree& expected, const Tree& actual);

// A printable form of a tree difference for failure messages.
std::string Describe(const Tree& tree);

}  // namespace e2e
