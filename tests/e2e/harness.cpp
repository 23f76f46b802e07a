#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void ListInto(const std::string& root, const std::string& rel, Tree& tree) {
  std::string dir = rel.empty() ? root : root + "/" + rel;
  DIR* d = opendir(dir.c_str());
  if (!d) Fail("opendir " + dir);
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  for (const std::string& name : names) {
    std::string relPath = rel.empty() ? name : rel + "/" + name;
    std::string full = root + "/" + relPath;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) Fail("lstat " + full);
    if (S_ISDIR(st.st_mode)) {
      tree[relPath + "/"] = "";
      ListInto(root, relPath, tree);
    } else if (S_ISLNK(st.st_mode)) {
      std::string target(4096, '\0');
      ssize_t n = readlink(full.c_str(), &target[0], target.size());
      if (n < 0) Fail("readlink " + full);
      target.resize(static_cast<size_t>(n));
      tree[relPath] = "@link:" + target;
    } else if (S_ISREG(st.st_mode)) {
      tree[relPath] = ReadFile(full);
    } else {
      tree[relPath] = "@special";
    }
  }
}

std::string Escape(const Bytes& bytes, size_t limit) {
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

}  // namespace

const char* const kTitle = "Parcelot\n\n";

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  if (!text) return words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> Command() {
  const char* prefix = std::getenv("PARCELOT_E2E_COMMAND");
  if (!prefix || !*prefix) return CommandFor(ExePath());
  return Words(prefix);
}

std::vector<std::string> CommandFor(const std::string& exe) {
  std::vector<std::string> words = Words(std::getenv("PARCELOT_E2E_RUNNER"));
  words.push_back(exe);
  return words;
}

bool WindowsTarget() {
  const char* target = std::getenv("PARCELOT_E2E_TARGET");
  return target && std::string(target) == "windows";
}

std::string Native(const std::string& path) {
  if (!WindowsTarget()) return path;
  std::string out = !path.empty() && path[0] == '/' ? "Z:" + path : path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string Shown(const std::string& utf8) {
  if (!WindowsTarget()) return utf8;
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t length = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
    uint32_t code = length == 1 ? c : c & (0x7f >> length);
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
      code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
    i += length;
    if (code < 0x80 || (code >= 0xa0 && code <= 0xff))
      out += static_cast<char>(code);
    else if (code == 0x20ac)
      out += '\x80';
    else
      out += '?';
  }
  return out;
}

::testing::AssertionResult OutputsMatch(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  auto fail = [&] {
    return ::testing::AssertionFailure() << "expected output:\n"
                                         << expected << "actual output:\n"
                                         << actual;
  };
  if (!WindowsTarget()) return fail();
  // Lines before the first file record, then the records as a multiset.
  auto parse = [](const std::string& text, std::string* head, std::vector<std::string>* records) {
    std::istringstream in(text);
    bool inRecords = false;
    for (std::string line; std::getline(in, line);) {
      bool progress = line.rfind("Splitting : ", 0) == 0 || line.rfind("Joining : ", 0) == 0;
      inRecords = inRecords || progress;
      if (!inRecords)
        *head += line + "\n";
      else if (progress || records->empty())
        records->push_back(line + "\n");
      else
        records->back() += line + "\n";
    }
    std::sort(records->begin(), records->end());
  };
  std::string expectedHead, actualHead;
  std::vector<std::string> expectedRecords, actualRecords;
  parse(expected, &expectedHead, &expectedRecords);
  parse(actual, &actualHead, &actualRecords);
  bool wholeLines = actual.empty() || actual.back() == '\n';
  if (wholeLines && expectedHead == actualHead && expectedRecords == actualRecords)
    return ::testing::AssertionSuccess();
  return fail();
}

bool CommandOverridden() {
  const char* prefix = std::getenv("PARCELOT_E2E_COMMAND");
  return prefix && *prefix;
}

std::string ExePath() {
  const char* exe = std::getenv("PARCELOT_E2E_EXE");
  return exe && *exe ? exe : PARCELOT_EXE;
}
std::string ExeDir() { return DirName(RealPath(ExePath())); }
std::string ExeName() {
  std::string path = ExePath();
  return path.substr(path.rfind('/') + 1);
}

RunResult Launch(const std::vector<std::string>& words, const RunOptions& options) {
  std::vector<std::string> argvStrings = options.command.empty() ? Command() : options.command;
  for (const std::string& word : words)
    argvStrings.push_back(!word.empty() && word[0] == '/' ? Native(word) : word);

  // The environment: ours without any locale setting, plus LC_ALL.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("LC_", 0) == 0 || entry.rfind("LANG=", 0) == 0 ||
        entry.rfind("LANGUAGE=", 0) == 0)
      continue;
    envStrings.push_back(entry);
  }
  envStrings.push_back("LC_ALL=" + options.locale);
  for (const std::string& entry : options.env) envStrings.push_back(entry);

  std::vector<char*> argv, envp;
  for (std::string& s : argvStrings) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  for (std::string& s : envStrings) envp.push_back(&s[0]);
  envp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) Fail("pipe");

  pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    setpgid(0, 0);
    umask(options.umask);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0)
      _exit(126);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(pid, pid);
  close(outPipe[1]);
  close(errPipe[1]);

  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  Bytes* sinks[2] = {&result.out, &result.err};
  int openCount = 2;
  while (openCount > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      break;
    }
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) Fail("poll");
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --openCount;
      }
    }
  }
  if (result.timedOut) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (WindowsTarget()) {
    Bytes lines;
    for (size_t i = 0; i < result.out.size(); ++i) {
      if (result.out[i] == '\r' && i + 1 < result.out.size() && result.out[i + 1] == '\n') continue;
      if (result.out[i] == '\n' && (i == 0 || result.out[i - 1] != '\r'))
        lines += "<LF without CR>";
      lines += result.out[i];
    }
    result.out = lines;
  }
  return result;
}

namespace {

std::string HolderPath() {
  const char* exe = std::getenv("PARCELOT_E2E_HOLD");
  if (exe && *exe) return exe;
#ifdef PARCELOT_HOLD_EXE
  return PARCELOT_HOLD_EXE;
#else
  return "";
#endif
}

}  // namespace

bool HolderAvailable() { return !HolderPath().empty() && !CommandOverridden(); }

Holder::Holder(const std::string& path, const std::string& how) {
  std::vector<std::string> argvStrings = CommandFor(HolderPath());
  argvStrings.push_back(how);
  argvStrings.push_back(Native(path));
  std::vector<char*> argv;
  for (std::string& s : argvStrings) argv.push_back(&s[0]);
  argv.push_back(nullptr);

  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) Fail("pipe");
  pid_ = fork();
  if (pid_ < 0) Fail("fork");
  if (pid_ == 0) {
    if (dup2(inPipe[0], 0) < 0 || dup2(outPipe[1], 1) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  input_ = inPipe[1];

  // Its one line says whether it holds the file; Wine may take a while to
  // start it.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd = {outPipe[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[64];
    ssize_t n = read(outPipe[0], buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
  }
  close(outPipe[0]);
  held_ = line.rfind("held", 0) == 0;
}

Holder::~Holder() {
  close(input_);  // the helper lets the file go and ends
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/parcelot-e2e-XXXXXX";
  if (!mkdtemp(&pattern[0])) Fail("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  try {
    RemoveAll(path_);
  } catch (...) {
  }
}

std::string TempDir::operator/(const std::string& relative) const { return path_ + "/" + relative; }

void MakeDirs(const std::string& path) {
  if (path.empty() || path == "/" || path == ".") return;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return;
  MakeDirs(DirName(path));
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) Fail("mkdir " + path);
}

void WriteFile(const std::string& path, const Bytes& bytes, mode_t mode) {
  MakeDirs(DirName(path));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail("open " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("write " + path);
    done += static_cast<size_t>(n);
  }
  if (fchmod(fd, mode) != 0) Fail("fchmod " + path);
  close(fd);
}

Bytes ReadFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) Fail("open " + path);
  Bytes bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("read " + path);
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return bytes;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void MakeTree(const std::string& root, const Tree& tree) {
  MakeDirs(root);
  for (const auto& [rel, bytes] : tree) {
    if (!rel.empty() && rel.back() == '/')
      MakeDirs(root + "/" + rel.substr(0, rel.size() - 1));
    else
      WriteFile(root + "/" + rel, bytes);
  }
}

Tree ListTree(const std::string& root) {
  Tree tree;
  ListInto(root, "", tree);
  return tree;
}

void RemoveAll(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0755);
    if (DIR* d = opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(d);
      for (const std::string& name : names) RemoveAll(path + "/" + name);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) Fail("realpath " + path);
  std::string result = resolved;
  std::free(resolved);
  return result;
}

Bytes Pattern(size_t length, unsigned seed) {
  Bytes bytes(length, '\0');
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < length; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>((state >> 24) ^ static_cast<uint32_t>(i));
  }
  return bytes;
}

std::string Splitting(const std::string& path, bool ok) {
  return "Splitting : " + Shown(Native(path)) + "\n" + (ok ? "Succeeded.\n" : "Failed.\n");
}

std::string Joining(const std::string& path, bool ok) {
  return "Joining : " + Shown(Native(path)) + "\n" + (ok ? "Succeeded.\n" : "Failed.\n");
}

std::string Invalid() { return std::string(kTitle) + "Invalid parameter.\n"; }

std::string ChunkSuffix(const std::string& pattern, unsigned index) {
  char buffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(buffer, sizeof buffer, pattern.c_str(), index);
#pragma GCC diagnostic pop
  return buffer;
}

Tree SplitSetOf(const std::string& name, const Bytes& content, unsigned size,
                const std::string& pattern, const Bytes& script, const Bytes& header) {
  Tree set;
  set[name + ".cgi"] = script;
  set[name + ".mime"] = header;
  unsigned index = 0;
  for (size_t offset = 0; offset < content.size(); offset += size, ++index)
    set[name + ChunkSuffix(pattern, index)] = content.substr(offset, size);
  return set;
}

::testing::AssertionResult TreesEqual(const Tree& expected, const Tree& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  std::string message = "trees differ:\n";
  for (const auto& [rel, bytes] : expected) {
    auto found = actual.find(rel);
    if (found == actual.end())
      message += "  missing  \"" + Escape(rel, 400) + "\"\n";
    else if (found->second != bytes)
      message += "  changed  \"" + Escape(rel, 400) + "\": expected (" +
                 std::to_string(bytes.size()) + ") \"" + Escape(bytes, 40) + "\", actual (" +
                 std::to_string(found->second.size()) + ") \"" + Escape(found->second, 40) + "\"\n";
  }
  for (const auto& [rel, bytes] : actual)
    if (!expected.count(rel))
      message += "  extra    \"" + Escape(rel, 400) + "\" (" + std::to_string(bytes.size()) +
                 ") \"" + Escape(bytes, 40) + "\"\n";
  return ::testing::AssertionFailure() << message;
}

std::string Describe(const Tree& tree) {
  std::string out;
  for (const auto& [rel, bytes] : tree) {
    out += "  \"" + Escape(rel, 400) + "\" (" + std::to_string(bytes.size()) + "): \"" +
           Escape(bytes, 40) + "\"\n";
  }
  return out;
}

}  // namespace e2e
