// The fault-injection seam of the test builds: see faults.h.
#include "platform/posix/faults.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kKinds = 10;
constexpr int kAny = kKinds;  // a rule that applies to every kind
constexpr int kMaxRules = 8;

struct Rule {
  int kind;
  unsigned long from;  // the first call that fails
  bool onward;         // every call from `from` on, not just that one
  int error;
};

struct Config {
  bool loaded = false;
  bool nosync = false;
  unsigned long killAt = 0;  // 0: never
  unsigned long stopAt = 0;  // 0: never
  char stopFile[256] = {};
  Rule rules[kMaxRules];
  int ruleCount = 0;
  unsigned long counts[kKinds + 1] = {};  // per kind, and of all calls
};

Config g_config;

const char* const kKindNames[kKinds] = {"open",   "read", "write", "sync",  "unlink",
                                        "rename", "copy", "trunc", "chmod", "lock"};

struct ErrorName {
  const char* name;
  int value;
};
const ErrorName kErrors[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
                             {"EPERM", EPERM},   {"EFBIG", EFBIG},   {"EDQUOT", EDQUOT},
                             {"ENOENT", ENOENT}, {"EROFS", EROFS},   {"EINTR", EINTR},
                             {"EBUSY", EBUSY},   {"EXDEV", EXDEV}};

// A malformed setting is a fault of the test itself: it ends the process
// loudly rather than letting the test pass without the fault it asked for.
[[noreturn]] void Malformed(const char* item) {
  static const char kMessage[] = "parcelot: malformed PARCELOT_FAULTS item: ";
  ssize_t ignored = write(2, kMessage, sizeof(kMessage) - 1);
  ignored = write(2, item, std::strlen(item));
  ignored = write(2, "\n", 1);
  (void)ignored;
  _exit(125);
}

int KindOf(const char* name, size_t length) {
  if (length == 3 && std::strncmp(name, "any", 3) == 0) return kAny;
  for (int i = 0; i < kKinds; ++i) {
    if (std::strlen(kKindNames[i]) == length && std::strncmp(name, kKindNames[i], length) == 0) {
      return i;
    }
  }
  return -1;
}

int ErrorOf(const char* text) {
  for (const ErrorName& e : kErrors) {
    if (std::strcmp(text, e.name) == 0) return e.value;
  }
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value > 0 ? static_cast<int>(value) : -1;
}

void ParseItem(char* item) {
  if (std::strcmp(item, "nosync") == 0) {
    g_config.nosync = true;
  } else if (std::strncmp(item, "kill=", 5) == 0) {
    char* end = nullptr;
    g_config.killAt = std::strtoul(item + 5, &end, 10);
    if (end == item + 5 || *end != '\0' || g_config.killAt == 0) Malformed(item);
  } else if (std::strncmp(item, "stop=", 5) == 0) {
    char* end = nullptr;
    g_config.stopAt = std::strtoul(item + 5, &end, 10);
    if (end == item + 5 || *end != ':' || g_config.stopAt == 0 || end[1] == '\0' ||
        std::strlen(end + 1) >= sizeof(g_config.stopFile)) {
      Malformed(item);
    }
    std::strcpy(g_config.stopFile, end + 1);
  } else if (std::strncmp(item, "fail=", 5) == 0 && g_config.ruleCount < kMaxRules) {
    char* kind = item + 5;
    char* colon = std::strchr(kind, ':');
    if (colon == nullptr) Malformed(item);
    Rule rule;
    rule.kind = KindOf(kind, static_cast<size_t>(colon - kind));
    char* end = nullptr;
    rule.from = std::strtoul(colon + 1, &end, 10);
    rule.onward = *end == '+';
    if (rule.onward) ++end;
    if (rule.kind < 0 || end == colon + 1 || *end != ':' || rule.from == 0) Malformed(item);
    rule.error = ErrorOf(end + 1);
    if (rule.error < 0) Malformed(item);
    g_config.rules[g_config.ruleCount++] = rule;
  } else {
    Malformed(item);
  }
}

// Tells the test which process stopped, then stops until it is continued.
void Stop() {
  int saved = errno;
  int fd = open(g_config.stopFile, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Malformed(g_config.stopFile);
  char text[32];
  int length = std::snprintf(text, sizeof(text), "%ld\n", static_cast<long>(getpid()));
  bool written = write(fd, text, static_cast<size_t>(length)) == length;
  close(fd);
  if (!written) Malformed(g_config.stopFile);
  raise(SIGSTOP);
  errno = saved;
}

void Load() {
  g_config.loaded = true;
  const char* value = std::getenv("PARCELOT_FAULTS");
  if (value == nullptr) return;
  char text[512];
  if (std::strlen(value) >= sizeof(text)) Malformed(value);
  std::strcpy(text, value);
  for (char* item = std::strtok(text, ","); item != nullptr; item = std::strtok(nullptr, ",")) {
    ParseItem(item);
  }
}

}  // namespace

bool PlFault(PlCall call) {
  if (!g_config.loaded) Load();
  int kind = static_cast<int>(call);
  unsigned long nth = ++g_config.counts[kind];
  unsigned long nthAny = ++g_config.counts[kAny];
  if (g_config.killAt != 0 && nthAny == g_config.killAt) {
    raise(SIGKILL);
  }
  if (g_config.stopAt != 0 && nthAny == g_config.stopAt) Stop();
  for (int i = 0; i < g_config.ruleCount; ++i) {
    const Rule& rule = g_config.rules[i];
    unsigned long n = rule.kind == kAny ? nthAny : nth;
    if ((rule.kind == kind || rule.kind == kAny) &&
        (n == rule.from || (rule.onward && n > rule.from))) {
      errno = rule.error;
      return true;
    }
  }
  return false;
}

bool PlFlushDisabled() {
  if (!g_config.loaded) Load();
  return g_config.nosync;
}
