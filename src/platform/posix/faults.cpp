// The fault-injection seam of the test builds: see faults.h.
#include "platform/posix/faults.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kKinds = 9;
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
  Rule rules[kMaxRules];
  int ruleCount = 0;
  unsigned long counts[kKinds + 1] = {};  // per kind, and of all calls
};

Config g_config;

const char* const kKindNames[kKinds] = {"open",   "read", "write", "sync", "unlink",
                                        "rename", "copy", "trunc", "chmod"};

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
