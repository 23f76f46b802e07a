// The handle-based file services: what they refuse matters as much as what
// they do, since a file emptied or followed by mistake is a user's data lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform_fixture.h"

namespace {

using Files = PlatformDir;

HANDLE OpenRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenWrite(const std::wstring& path, DWORD disposition) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads the rest of the file through the handle; "<failed>" when a read
// fails.
std::string ReadRest(HANDLE file) {
  std::string content;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) return "<failed>";
    if (got == 0) return content;
    content.append(buffer, got);
  }
}

// True when the open gave a handle, which is closed again.
bool Opened(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Ends the test process if a call blocks: a FIFO that was opened would.
class NoHang {
 public:
  NoHang() { alarm(10); }
  ~NoHang() { alarm(0); }
};

TEST_F(Files, WrittenBytesReadBackAcrossShortReadsToTheEnd) {
  std::string data = Pattern(10000);
  HANDLE out = OpenWrite(WPath("f"), CREATE_ALWAYS);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(FlushFileBuffers(out));
  EXPECT_TRUE(CloseHandle(out));

  HANDLE in = OpenRead(WPath("f"));
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(in, &high), 10000u);
  EXPECT_EQ(high, 0u);
  std::string back;
  DWORD sizes[] = {4096, 4096, 4096};
  DWORD expected[] = {4096, 4096, 1808};
  for (int i = 0; i < 3; ++i) {
    std::string part(sizes[i], '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(in, &part[0], sizes[i], &got, nullptr));
    EXPECT_EQ(got, expected[i]);
    back.append(part, 0, got);
  }
  DWORD got = 1;
  EXPECT_TRUE(ReadFile(in, &back[0], 1, &got, nullptr));  // the end, read again
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(back, data);
  CloseHandle(in);
}

TEST_F(Files, CreateAlwaysEmptiesCreateNewRefusesOpenExistingKeeps) {
  Put("old", "previous content");
  HANDLE h = OpenWrite(WPath("old"), OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  EXPECT_EQ(Get("old"), "previous content");

  EXPECT_EQ(OpenWrite(WPath("old"), CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Get("old"), "previous content");
  EXPECT_EQ(OpenWrite(WPath("missing"), OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Exists("missing"));

  h = OpenWrite(WPath("old"), CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(Get("old"), "");

  h = OpenWrite(WPath("new"), CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(Exists("new"));
}

// The share rule between the program's own handles is checked before a
// file is emptied: a hard link is the same file under another name.
TEST_F(Files, OwnHandlesConflictBeforeAnythingIsEmptied) {
  Put("src", "source bytes");
  ASSERT_EQ(link(Path("src").c_str(), Path("twin").c_str()), 0);

  HANDLE reader = OpenRead(WPath("src"));
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second = OpenRead(WPath("twin"));  // reading beside reading is shared
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);

  EXPECT_EQ(OpenWrite(WPath("twin"), CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenWrite(WPath("src"), OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileW(WPath("other").c_str(), WPath("twin").c_str(), FALSE));
  Put("other", "other bytes");
  EXPECT_FALSE(CopyFileW(WPath("other").c_str(), WPath("twin").c_str(), FALSE));
  EXPECT_FALSE(DeleteFileW(WPath("twin").c_str()));
  EXPECT_EQ(Get("src"), "source bytes");
  CloseHandle(reader);

  // A file held for writing cannot be opened for reading, nor written twice.
  HANDLE writer = OpenWrite(WPath("other"), OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenRead(WPath("other")), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileW(WPath("other").c_str(), WPath("copy").c_str(), FALSE));
  EXPECT_EQ(OpenWrite(WPath("other"), CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  EXPECT_EQ(Get("other"), "other bytes");

  // Closed handles hold nothing.
  EXPECT_TRUE(DeleteFileW(WPath("twin").c_str()));
  EXPECT_FALSE(Exists("twin"));
}

// The share modes hold between processes too, as Windows keeps them: a run
// of the program cannot empty, write, copy over or remove a file that
// another run holds, and cannot read one that is held for writing or held
// unshared. Each holder is tried in this process and in another one.
TEST_F(Files, ShareModesHoldBetweenProcesses) {
  struct Holder {
    const char* name;
    DWORD access;
    DWORD share;
  };
  const Holder holders[] = {{"reading, shared", GENERIC_READ, FILE_SHARE_READ},
                            {"reading, unshared", GENERIC_READ, 0},
                            {"writing", GENERIC_WRITE, FILE_SHARE_READ}};
  struct Action {
    const char* name;
    bool besideSharedReading;  // succeeds while the file is held for shared reading
    bool (*run)(const std::wstring& path, const std::wstring& other);
  };
  const Action actions[] = {
      {"open to read, shared", true,
       [](const std::wstring& p, const std::wstring&) { return Opened(OpenRead(p)); }},
      {"open to read, unshared", false,
       [](const std::wstring& p, const std::wstring&) {
         return Opened(CreateFileW(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
       }},
      {"open to write", false,
       [](const std::wstring& p, const std::wstring&) {
         return Opened(OpenWrite(p, OPEN_EXISTING));
       }},
      {"create always", false,
       [](const std::wstring& p, const std::wstring&) {
         return Opened(OpenWrite(p, CREATE_ALWAYS));
       }},
      {"copy over", false,
       [](const std::wstring& p, const std::wstring& o) {
         return CopyFileW(o.c_str(), p.c_str(), FALSE) != FALSE;
       }},
      {"remove", false,
       [](const std::wstring& p, const std::wstring&) { return DeleteFileW(p.c_str()) != FALSE; }},
  };
  Put("other", "other bytes");
  for (bool otherProcess : {false, true}) {
    for (const Holder& holder : holders) {
      for (const Action& action : actions) {
        SCOPED_TRACE(std::string(otherProcess ? "another process" : "this process") +
                     " holds the file for " + holder.name + "; " + action.name);
        Put("f", "held bytes");
        int ready[2];
        int release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        HANDLE held = INVALID_HANDLE_VALUE;
        pid_t child = -1;
        if (otherProcess) {
          child = fork();
          ASSERT_GE(child, 0);
          if (child == 0) {
            close(release[1]);
            HANDLE h = CreateFileW(WPath("f").c_str(), holder.access, holder.share, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            char c = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
            if (write(ready[1], &c, 1) != 1) _exit(1);
            if (read(release[0], &c, 1) < 0) _exit(1);  // until the parent closes its end
            _exit(0);
          }
          char c = 0;
          ASSERT_EQ(read(ready[0], &c, 1), 1);
          ASSERT_EQ(c, 'y');
        } else {
          held = CreateFileW(WPath("f").c_str(), holder.access, holder.share, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
          ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        const bool expected = action.besideSharedReading && holder.access == GENERIC_READ &&
                              holder.share == FILE_SHARE_READ;
        EXPECT_EQ(action.run(WPath("f"), WPath("other")), expected);
        if (!expected) {
          EXPECT_EQ(Get("f"), "held bytes");
        }
        close(release[1]);
        if (otherProcess) {
          int status = 0;
          while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
          }
          EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else {
          CloseHandle(held);
        }
        close(ready[0]);
        close(ready[1]);
        close(release[0]);
        // Once the holder is gone, nothing is in the way.
        EXPECT_TRUE(action.run(WPath("f"), WPath("other")));
        if (HasFailure()) return;
      }
    }
  }
}

TEST_F(Files, CopyOntoTheSourceItselfEmptiesNothing) {
  std::string data = Pattern(100000);
  Put("src", data);
  ASSERT_EQ(link(Path("src").c_str(), Path("twin").c_str()), 0);
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath("src").c_str(), FALSE));
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath("twin").c_str(), FALSE));
  EXPECT_FALSE(CopyFileW(WPath("twin").c_str(), WPath("src").c_str(), FALSE));
  EXPECT_EQ(Get("src"), data);
}

TEST_F(Files, CopyIsExactWithTheSourceModeAndOwnerWrite) {
  struct Case {
    mode_t source;
    mode_t copy;
  } cases[] = {{0755, 0755}, {0444, 0644}, {0600, 0600}, {0640, 0640}};
  mode_t savedMask = umask(077);  // the umask plays no part in a copy's mode
  for (const Case& c : cases) {
    std::string data = Pattern(3 * 1024 * 1024 + 17, c.source);
    Put("script", data, c.source);
    Put("target", "to be replaced", 0600);
    EXPECT_TRUE(CopyFileW(WPath("script").c_str(), WPath("target").c_str(), FALSE));
    EXPECT_EQ(Get("target"), data);
    EXPECT_EQ(ModeOf("target") & 07777, c.copy) << std::oct << c.source;
    ASSERT_EQ(unlink(Path("target").c_str()), 0);
    EXPECT_TRUE(CopyFileW(WPath("script").c_str(), WPath("target").c_str(), TRUE));
    EXPECT_EQ(ModeOf("target") & 07777, c.copy) << std::oct << c.source;
    EXPECT_FALSE(CopyFileW(WPath("script").c_str(), WPath("target").c_str(), TRUE));
    ASSERT_EQ(unlink(Path("target").c_str()), 0);
    ASSERT_EQ(unlink(Path("script").c_str()), 0);
  }
  umask(savedMask);
}

TEST_F(Files, ReadOnlyFilesAreNeitherWrittenNorRemoved) {
  Put("ro", "read-only bytes", 0444);
  Put("src", "source");
  EXPECT_EQ(OpenWrite(WPath("ro"), CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenWrite(WPath("ro"), OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath("ro").c_str(), FALSE));
  EXPECT_FALSE(DeleteFileW(WPath("ro").c_str()));
  EXPECT_EQ(Get("ro"), "read-only bytes");
  EXPECT_EQ(GetFileAttributesW(WPath("ro").c_str()), FILE_ATTRIBUTE_READONLY);
  // Reading it is fine.
  HANDLE in = OpenRead(WPath("ro"));
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadRest(in), "read-only bytes");
  CloseHandle(in);
}

// A symbolic link at a name that is created or copied to is never followed:
// the open fails and the link's target keeps its bytes.
TEST_F(Files, LinkAtACreatedNameIsNotFollowed) {
  Put("victim", "precious");
  Put("src", "new bytes");
  ASSERT_EQ(symlink(Path("victim").c_str(), Path("link").c_str()), 0);
  ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);

  for (DWORD disposition : {CREATE_ALWAYS, CREATE_NEW, OPEN_EXISTING}) {
    EXPECT_EQ(OpenWrite(WPath("link"), disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenWrite(WPath("dangling"), disposition), INVALID_HANDLE_VALUE);
  }
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath("link").c_str(), FALSE));
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath("dangling").c_str(), FALSE));
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath("dangling").c_str(), TRUE));
  EXPECT_EQ(Get("victim"), "precious");
  EXPECT_FALSE(Exists("nowhere"));
  EXPECT_TRUE(S_ISLNK(ModeOf("link")));

  // Read opens follow a link to a regular file, copies read through one.
  HANDLE in = OpenRead(WPath("link"));
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadRest(in), "precious");
  CloseHandle(in);
  EXPECT_TRUE(CopyFileW(WPath("link").c_str(), WPath("copy").c_str(), FALSE));
  EXPECT_EQ(Get("copy"), "precious");

  // Removing a link removes the link, not its target.
  EXPECT_TRUE(DeleteFileW(WPath("link").c_str()));
  EXPECT_FALSE(Exists("link"));
  EXPECT_EQ(Get("victim"), "precious");
}

// A FIFO is never opened, for reading or writing: a writer waiting for a
// reader at the FIFO stays waiting. Nothing blocks on it either.
TEST_F(Files, FifoAndDirectoryAreNeverOpened) {
  NoHang guard;
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink(Path("fifo").c_str(), Path("to-fifo").c_str()), 0);
  Put("src", "bytes");
  pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    int fd = open(Path("fifo").c_str(), O_WRONLY);  // waits for a reader
    _exit(fd >= 0 ? 0 : 1);
  }
  usleep(100000);

  for (const char* name : {"fifo", "to-fifo", "dir"}) {
    EXPECT_EQ(OpenRead(WPath(name)), INVALID_HANDLE_VALUE) << name;
    for (DWORD disposition : {CREATE_ALWAYS, CREATE_NEW, OPEN_EXISTING}) {
      EXPECT_EQ(OpenWrite(WPath(name), disposition), INVALID_HANDLE_VALUE) << name;
    }
    EXPECT_FALSE(CopyFileW(WPath(name).c_str(), WPath("copy").c_str(), FALSE)) << name;
    EXPECT_FALSE(CopyFileW(WPath("src").c_str(), WPath(name).c_str(), FALSE)) << name;
  }
  EXPECT_FALSE(DeleteFileW(WPath("dir").c_str()));
  EXPECT_FALSE(Exists("copy"));

  usleep(100000);
  int status = 0;
  EXPECT_EQ(waitpid(writer, &status, WNOHANG), 0) << "the FIFO was opened for reading";
  kill(writer, SIGKILL);
  waitpid(writer, &status, 0);
}

void SetOldTimes(const std::string& path) {
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A file that changes after it was opened fails the read that reaches its
// end, whether the change shows in its size, its times or its lease.
TEST_F(Files, FileChangedAfterOpenFailsTheReadAtItsEnd) {
  struct Change {
    const char* what;
    void (*apply)(const std::string& path);
  } changes[] = {
      {"nothing", [](const std::string&) {}},
      {"appended",
       [](const std::string& path) {
         int fd = open(path.c_str(), O_WRONLY | O_APPEND);
         ASSERT_EQ(write(fd, "!", 1), 1);
         close(fd);
       }},
      {"overwritten in place",
       [](const std::string& path) {
         int fd = open(path.c_str(), O_WRONLY);
         ASSERT_EQ(pwrite(fd, "X", 1, 5), 1);
         close(fd);
       }},
      {"truncated", [](const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 3), 0); }},
      {"times set",
       [](const std::string& path) {
         ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);
       }},
      {"mode changed", [](const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0600), 0); }},
  };
  NoHang guard;  // a lease that we keep would stall our own opens for writing
  for (const Change& change : changes) {
    std::string data = Pattern(5000);
    Put("f", data);
    SetOldTimes(Path("f"));
    usleep(20000);  // the change gets a time apart from the file's own
    HANDLE in = OpenRead(WPath("f"));
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    std::string head(100, '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(in, &head[0], 100, &got, nullptr));
    change.apply(Path("f"));
    std::string rest = ReadRest(in);
    if (std::string(change.what) == "nothing") {
      EXPECT_EQ(head + rest, data);
    } else {
      EXPECT_EQ(rest, "<failed>") << change.what;
      // ... and so is every later read at the end.
      DWORD none = 0;
      char byte;
      EXPECT_FALSE(ReadFile(in, &byte, 1, &none, nullptr)) << change.what;
    }
    CloseHandle(in);
    ASSERT_EQ(unlink(Path("f").c_str()), 0);
  }
}

// The change after the last byte was read is found by the read after it.
TEST_F(Files, ChangeBeforeTheFinalEmptyReadIsFound) {
  Put("f", "12345");
  SetOldTimes(Path("f"));
  HANDLE in = OpenRead(WPath("f"));
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  char buffer[5];
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(in, buffer, 5, &got, nullptr));  // all of it, no end seen yet
  EXPECT_EQ(got, 5u);
  ASSERT_EQ(utimensat(AT_FDCWD, Path("f").c_str(), nullptr, 0), 0);
  EXPECT_FALSE(ReadFile(in, buffer, 5, &got, nullptr));
  CloseHandle(in);
}

bool LeasesGranted(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  bool granted = fd >= 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  if (granted) fcntl(fd, F_SETLEASE, F_UNLCK);
  if (fd >= 0) close(fd);
  return granted;
}

// A child process that holds `path` open for writing until told to end.
struct Writer {
  pid_t pid = -1;
  int release = -1;
  Writer(const std::string& path) {
    int ready[2];
    int done[2];
    if (pipe(ready) != 0 || pipe(done) != 0) return;
    pid = fork();
    if (pid == 0) {
      alarm(20);
      close(done[1]);  // the end comes when the parent closes its side
      int fd = open(path.c_str(), O_WRONLY);
      char byte = fd >= 0 ? 'y' : 'n';
      (void)!write(ready[1], &byte, 1);
      (void)!read(done[0], &byte, 1);
      _exit(0);
    }
    char byte = 0;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    close(done[0]);
    release = done[1];
  }
  ~Writer() {
    close(release);
    int status;
    waitpid(pid, &status, 0);
  }
};

TEST_F(Files, ReadOpenRefusedWhileAnotherProcessWrites) {
  Put("f", "being written");
  if (!LeasesGranted(Path("f"))) {
    GTEST_SKIP() << "this file system grants no read lease; another writer cannot be seen";
  }
  {
    Writer writer(Path("f"));
    EXPECT_EQ(OpenRead(WPath("f")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesW(WPath("f").c_str()), FILE_ATTRIBUTE_NORMAL);
  }
  HANDLE in = OpenRead(WPath("f"));
  EXPECT_NE(in, INVALID_HANDLE_VALUE);
  CloseHandle(in);
}

// Another process that opens the file for writing after our open breaks the
// lease: it is let go at once (not after the system's lease-break time),
// and our read at the end fails even though nothing was written.
TEST_F(Files, WriterAfterOpenBreaksTheLeaseAndTheRead) {
  NoHang guard;
  std::string data = Pattern(1000);
  Put("f", data);
  if (!LeasesGranted(Path("f"))) {
    GTEST_SKIP() << "this file system grants no read lease; a later writer cannot be seen";
  }
  HANDLE in = OpenRead(WPath("f"));
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = open(Path("f").c_str(), O_WRONLY);  // waits while the lease stands
    _exit(fd >= 0 ? 0 : 1);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(ReadRest(in), "<failed>");
  CloseHandle(in);
}

TEST_F(Files, WriteBeyondTheFileSizeLimitFails) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    HANDLE out = OpenWrite(WPath("big"), CREATE_ALWAYS);
    if (out == INVALID_HANDLE_VALUE) _exit(2);
    std::string data(8192, 'x');
    DWORD written = 0;
    BOOL ok = WriteFile(out, data.data(), 8192, &written, nullptr);
    _exit(ok ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a write cut short by the limit was reported whole";
}

TEST_F(Files, MoveNeverReplacesAnything) {
  Put("src", "moving");
  Put("file", "standing");
  ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
  for (const char* target : {"file", "dangling", "dir", "fifo"}) {
    EXPECT_FALSE(MoveFileExW(WPath("src").c_str(), WPath(target).c_str(), MOVEFILE_WRITE_THROUGH))
        << target;
    EXPECT_EQ(Get("src"), "moving");
  }
  EXPECT_EQ(Get("file"), "standing");
  EXPECT_FALSE(Exists("nowhere"));

  EXPECT_TRUE(MoveFileExW(WPath("src").c_str(), WPath("moved").c_str(), MOVEFILE_WRITE_THROUGH));
  EXPECT_FALSE(Exists("src"));
  EXPECT_EQ(Get("moved"), "moving");
  EXPECT_TRUE(
      MoveFileExW(WPath("moved").c_str(), WPath("dir/inside").c_str(), MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(Get("dir/inside"), "moving");
  EXPECT_FALSE(MoveFileExW(WPath("missing").c_str(), WPath("other").c_str(), 0));
}

TEST_F(Files, AttributesOfEachKindOfEntry) {
  Put("file", "x");
  Put("ro", "x", 0444);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
  ASSERT_EQ(symlink(Path("dir").c_str(), Path("to-dir").c_str()), 0);
  ASSERT_EQ(symlink(Path("ro").c_str(), Path("to-file").c_str()), 0);
  ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);
  struct {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"file", FILE_ATTRIBUTE_NORMAL},
      {"ro", FILE_ATTRIBUTE_READONLY},
      {"dir", FILE_ATTRIBUTE_DIRECTORY},
      {"fifo", FILE_ATTRIBUTE_NORMAL},
      {"to-dir", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
      {"to-file", FILE_ATTRIBUTE_REPARSE_POINT},
      {"dangling", FILE_ATTRIBUTE_REPARSE_POINT},
      {"missing", INVALID_FILE_ATTRIBUTES},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetFileAttributesW(WPath(c.name).c_str()), c.attributes) << c.name;
  }
}

// Every operation refuses a name of MAX_PATH characters or more, even where
// the system would take it: the callers count on that limit.
TEST_F(Files, NamesOfMaxPathCharactersAreRefused) {
  size_t room = MAX_PATH - 1 - (dir_.size() + 1);  // the name of a 259-character path
  std::string fits(room, 'f');
  std::string over(room + 1, 'o');
  Put(fits, "fits");
  Put(over, "over");
  ASSERT_EQ(WPath(fits).size(), 259u);

  HANDLE in = OpenRead(WPath(fits));
  EXPECT_NE(in, INVALID_HANDLE_VALUE);
  CloseHandle(in);
  EXPECT_EQ(OpenRead(WPath(over)), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenWrite(WPath(over), CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileAttributesW(WPath(over).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(DeleteFileW(WPath(over).c_str()));
  EXPECT_FALSE(CopyFileW(WPath(fits).c_str(), WPath(over).c_str(), FALSE));
  EXPECT_FALSE(MoveFileExW(WPath(fits).c_str(), WPath(over).c_str(), 0));
  EXPECT_EQ(Get(over), "over");
  EXPECT_EQ(Get(fits), "fits");
}

// A name that is not valid in the locale is reached by the text that a
// listing gives for it, so its bytes are split and joined like any other.
TEST_F(Files, NamesThatDoNotDecodeAreReachedByTheirListedText) {
  for (const char* locale : {"C.UTF-8", "C"}) {
    ASSERT_NE(setlocale(LC_ALL, locale), nullptr);
    const std::string name = "\xff\xc3\xa9\xed\xa0\x80%s.bin";
    Put(name, "odd name");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((WPath("") + L"*.bin").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    std::wstring path = WPath("") + data.cFileName;
    HANDLE in = OpenRead(path);
    ASSERT_NE(in, INVALID_HANDLE_VALUE) << locale;
    EXPECT_EQ(ReadRest(in), "odd name");
    CloseHandle(in);
    EXPECT_TRUE(MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0));
    EXPECT_TRUE(Exists(name + ".moved"));
    EXPECT_TRUE(DeleteFileW((path + L".moved").c_str()));
    EXPECT_FALSE(Exists(name + ".moved"));
  }
}

TEST_F(Files, NameWithoutEncodingCreatesNothing) {
  setlocale(LC_ALL, "C");
  Put("src", "bytes");
  std::wstring name = WPath("caf") + L"\u00e9";
  EXPECT_EQ(OpenWrite(name, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileW(WPath("src").c_str(), name.c_str(), FALSE));
  EXPECT_FALSE(MoveFileExW(WPath("src").c_str(), name.c_str(), 0));
  // Nothing but the source stands in the directory: no name was made up.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((WPath("") + L"?*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::wstring names;
  do {
    names += data.cFileName;
    names += L' ';
  } while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(names, L". .. src ");
}

TEST(VirtualMemory, ZeroedBuffersAndNoneForZeroBytes) {
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
  const size_t size = 3 * 1024 * 1024 + 5;
  unsigned char* block = static_cast<unsigned char*>(
      VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(block, nullptr);
  size_t nonZero = 0;
  for (size_t i = 0; i < size; ++i) nonZero += block[i] != 0;
  EXPECT_EQ(nonZero, 0u);
  block[0] = 1;
  block[size - 1] = 2;
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(block, 0, MEM_RELEASE));  // released once, whole
}

}  // namespace
