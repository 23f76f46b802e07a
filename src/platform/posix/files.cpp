// The handle-based file services over POSIX system calls.
//
// Every handle that the layer gives out is a slot of a fixed table. The table
// is also the registry of the program's own open files, by which the share
// mode is honoured between the program's handles: a write open, or a read
// open that shares nothing, fails while any handle holds the same file; a
// read open that shares reading fails while one holds it for writing or
// without sharing; and the check runs before anything is emptied.
//
// Between processes the share mode is honoured by a whole-file lock (flock)
// on each handle's open file: shared for a read that shares reading,
// exclusive for any other open, and exclusive for the moment of a removal.
// So two runs of the program keep to the same rules that Windows applies,
// while other programs, which take no such lock, are not hindered. After the
// lock is taken, the name must still lead to the locked file: a removal by
// another run between the open and the lock is found there.
//
// Read opens take a read lease where the system grants one: the lease is
// refused while another process holds the file open for writing, and it is
// broken (with a signal to us) when one opens it for writing later. The read
// that reaches the end of the file then fails, as it does when the file's
// size or times differ from what they were at the open.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/faults.h"
#include "platform/posix/text.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// The most bytes moved by one read() or write(): the system moves at most
// about 2 GiB per call, and a request of up to 4 GiB - 1 is continued.
constexpr size_t kMaxIo = 1u << 30;

struct FileSlot {
  bool inUse;
  bool writing;                  // opened for writing (else for reading)
  bool exclusive;                // shares nothing (a write open never shares)
  volatile sig_atomic_t fd;      // read by the lease-break handler
  volatile sig_atomic_t broken;  // set by the handler: the lease was broken
  struct stat atOpen;            // the file as it was when opened
  uint64_t offset;               // bytes read or written so far
  WCHAR path[MAX_PATH];          // the name it was opened by, for the flush
};

constexpr int kMaxFiles = 64;
FileSlot g_files[kMaxFiles];

bool g_leaseHandlerInstalled = false;

// The directory whose last flush put every entry that the program made on
// stable storage; any entry the program makes, renames or removes after it
// clears the mark.
char g_syncedDir[kPathBytes];
bool g_syncedDirValid = false;

void EntriesChanged() { g_syncedDirValid = false; }

int LeaseSignal() { return SIGRTMIN + 1; }

// Runs when a lease of ours is broken: another process opens the file for
// writing or truncates it. The handle is marked so that its last read fails,
// and the lease is given up at once so that the other process is not kept
// waiting. Only async-signal-safe calls.
void OnLeaseBreak(int, siginfo_t* info, void*) {
  int savedErrno = errno;
  for (int i = 0; i < kMaxFiles; ++i) {
    if (g_files[i].inUse && g_files[i].fd == info->si_fd) {
      g_files[i].broken = 1;
      fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    }
  }
  errno = savedErrno;
}

bool InstallLeaseHandler() {
  if (g_leaseHandlerInstalled) return true;
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_sigaction = OnLeaseBreak;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (sigaction(LeaseSignal(), &action, nullptr) != 0) return false;
  g_leaseHandlerInstalled = true;
  return true;
}

FileSlot* SlotOf(HANDLE handle) {
  for (int i = 0; i < kMaxFiles; ++i) {
    if (handle == static_cast<HANDLE>(&g_files[i])) return g_files[i].inUse ? &g_files[i] : nullptr;
  }
  return nullptr;
}

FileSlot* FreeSlot() {
  for (int i = 0; i < kMaxFiles; ++i) {
    if (!g_files[i].inUse) return &g_files[i];
  }
  return nullptr;
}

// True when one of our handles holds the file `dev`/`ino` (when
// `exclusiveOnly`, only a handle that does not share reading).
bool HeldByUs(dev_t dev, ino_t ino, bool exclusiveOnly) {
  for (int i = 0; i < kMaxFiles; ++i) {
    const FileSlot& slot = g_files[i];
    if (!slot.inUse || (exclusiveOnly && !slot.exclusive)) continue;
    if (slot.atOpen.st_dev == dev && slot.atOpen.st_ino == ino) return true;
  }
  return false;
}

void CloseFd(int fd) {
  // A close that fails after the data was written changes nothing here: a
  // caller that needs the data on disk flushes before it closes.
  while (close(fd) != 0 && errno == EINTR) {
  }
}

// O_NONBLOCK only keeps the open itself from waiting (on a FIFO that slipped
// in, or on another process's lease); reads and writes of the regular file
// are plain blocking ones. None of the other status flags that F_SETFL can
// change is ever set here, so clearing them all clears O_NONBLOCK alone.
void ClearNonBlocking(int fd) { fcntl(fd, F_SETFL, 0); }

// Takes the lock by which the share mode is honoured between processes:
// shared, or exclusive. False when another open file holds a lock that
// conflicts with it. A file system that keeps no such locks (or cannot take
// this one on a descriptor of this access) is not refused for it: the
// registry still holds between the program's own handles.
bool TakeShareLock(int fd, bool exclusive) {
  if (PlFault(PlCall::Lock)) return false;
  int result;
  do {
    result = flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno != EWOULDBLOCK;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the name `bytes` still leads to the file `opened` (the entry
// itself, or where a link at it leads when `follow`).
bool StillNamed(const char* bytes, const struct stat& opened, bool follow) {
  struct stat now;
  return (follow ? stat(bytes, &now) : lstat(bytes, &now)) == 0 && SameFile(now, opened);
}

// True when a file opened by `bytes`, whose status `opened` was taken once
// it was locked, is still linked under that name. A removal of the name, or
// a file put in its place, takes the file's link; so a file that still has
// its only link has the name it was opened by (or was renamed, which the
// program never does to a file that another run may hold), and only a file
// with more links needs the name looked up again. (A symbolic link that led
// to it may have gone: a handle holds the file, not a link to it, as on
// Windows.)
bool StillLinked(const char* bytes, const struct stat& opened, bool follow) {
  if (opened.st_nlink == 1) return true;
  return opened.st_nlink > 1 && StillNamed(bytes, opened, follow);
}

// Fills `slot` with an open file (whose name the caller has put in it); the
// slot is in use from here, and the lease-break handler sees it. A write
// open never shares.
FileSlot* TakeSlot(FileSlot* slot, int fd, const struct stat& opened, bool writing,
                   bool exclusive) {
  slot->writing = writing;
  slot->exclusive = writing || exclusive;
  slot->broken = 0;
  slot->offset = 0;
  slot->atOpen = opened;
  slot->fd = fd;
  slot->inUse = true;
  return slot;
}

void ReleaseSlot(FileSlot* slot) {
  // Closing the descriptor gives its lease and its lock up as well.
  int fd = slot->fd;
  slot->fd = -1;
  slot->inUse = false;
  CloseFd(fd);
}

// Read-ahead is widened for files that a read does not take whole anyway;
// for a small one the hint is a wasted system call.
constexpr off_t kAdviseFrom = 256 * 1024;

// Opens an existing regular file for reading into a free slot, sharing
// reading unless `exclusive`. A symbolic link at the name is followed. With
// `lease`, a read lease is taken where the system grants one; a refused
// lease means another process holds the file open for writing, and the open
// fails.
FileSlot* OpenForReading(const WCHAR* name, bool lease, bool exclusive = false) {
  char bytes[kPathBytes];
  if (!PlEncodePath(name, bytes)) return nullptr;
  FileSlot* slot = FreeSlot();
  if (slot == nullptr) return nullptr;

  // The type is checked before the open, so a FIFO, socket or device is
  // never opened at all.
  struct stat before;
  if (stat(bytes, &before) != 0 || !S_ISREG(before.st_mode)) return nullptr;
  if (HeldByUs(before.st_dev, before.st_ino, !exclusive)) return nullptr;
  if (!PlCopy(slot->path, MAX_PATH, name)) return nullptr;

  if (PlFault(PlCall::Open)) return nullptr;
  int fd = open(bytes, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!TakeShareLock(fd, exclusive)) {
    CloseFd(fd);
    return nullptr;
  }
  ClearNonBlocking(fd);
  TakeSlot(slot, fd, before, false, exclusive);

  // A refused lease means the file is open for writing elsewhere. Where the
  // system offers no lease (not permitted, or not on this file system), the
  // size and time comparison at the end remains.
  if (lease && InstallLeaseHandler() && fcntl(fd, F_SETSIG, LeaseSignal()) == 0 &&
      fcntl(fd, F_SETLEASE, F_RDLCK) != 0 && errno == EAGAIN) {
    ReleaseSlot(slot);
    return nullptr;
  }
  // The opened file must be the regular file that stat saw, against a swap
  // of the entry in between, and the name must still lead to it now that it
  // is locked; and its size and times once the lease was granted are the
  // ones to keep: a write that ended before counts as before the open.
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || !SameFile(opened, before) ||
      !StillLinked(bytes, opened, true)) {
    ReleaseSlot(slot);
    return nullptr;
  }
  slot->atOpen = opened;
  if (opened.st_size >= kAdviseFrom) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return slot;
}

// Opens a regular file for writing into a free slot: CREATE_ALWAYS (made or
// emptied), CREATE_NEW (made; fails when any entry stands at the name) or
// OPEN_EXISTING (opened as it is). A symbolic link at the name is never
// followed, an entry that is no regular file is never opened, and a file
// with no write permission bit is read-only. The share check against our own
// handles runs before the file is emptied. A file made here gets the
// permission bits `createMode` less the umask.
FileSlot* OpenForWriting(const WCHAR* name, DWORD disposition, mode_t createMode = 0666) {
  if (disposition != CREATE_ALWAYS && disposition != CREATE_NEW && disposition != OPEN_EXISTING) {
    return nullptr;
  }
  char bytes[kPathBytes];
  if (!PlEncodePath(name, bytes)) return nullptr;
  FileSlot* slot = FreeSlot();
  if (slot == nullptr) return nullptr;
  if (!PlCopy(slot->path, MAX_PATH, name)) return nullptr;

  // A free name is created exclusively, so a file that appears there
  // meanwhile is not taken for ours. An exclusive create follows no link and
  // opens nothing but the regular file it makes, so it never waits and
  // needs no O_NONBLOCK.
  struct stat opened;
  if (disposition != OPEN_EXISTING) {
    if (PlFault(PlCall::Open)) return nullptr;
    int fd = open(bytes, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
    if (fd >= 0) {
      EntriesChanged();
      // Another run may open or remove the new file before it is locked.
      if (!TakeShareLock(fd, true) || fstat(fd, &opened) != 0 ||
          !StillLinked(bytes, opened, false)) {
        CloseFd(fd);
        return nullptr;
      }
      return TakeSlot(slot, fd, opened, true, true);
    }
    if (errno != EEXIST || disposition == CREATE_NEW) return nullptr;
  }

  // Something stands at the name: it must be a writable regular file that
  // none of our handles holds, and it is opened without O_CREAT and must
  // still be the file that lstat saw.
  struct stat before;
  if (lstat(bytes, &before) != 0) return nullptr;
  if (!S_ISREG(before.st_mode)) return nullptr;  // a link, FIFO, directory...
  if ((before.st_mode & kWriteBits) == 0) return nullptr;
  if (HeldByUs(before.st_dev, before.st_ino, false)) return nullptr;

  if (PlFault(PlCall::Open)) return nullptr;
  int fd = open(bytes, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!TakeShareLock(fd, true) || fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      !SameFile(opened, before) || HeldByUs(opened.st_dev, opened.st_ino, false) ||
      !StillLinked(bytes, opened, false)) {
    CloseFd(fd);
    return nullptr;
  }
  if (disposition == CREATE_ALWAYS) {
    int result = -1;
    if (!PlFault(PlCall::Trunc)) {
      do {
        result = ftruncate(fd, 0);
      } while (result != 0 && errno == EINTR);
    }
    if (result != 0) {
      CloseFd(fd);
      return nullptr;
    }
    opened.st_size = 0;
  }
  ClearNonBlocking(fd);
  return TakeSlot(slot, fd, opened, true, true);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when the file read through `slot` is still as it was at the open and
// all of it was read.
bool UnchangedSinceOpen(FileSlot* slot) {
  if (slot->broken) return false;
  struct stat now;
  if (fstat(slot->fd, &now) != 0) return false;
  return now.st_size >= 0 && static_cast<uint64_t>(now.st_size) == slot->offset &&
         SameTime(now.st_mtim, slot->atOpen.st_mtim) && SameTime(now.st_ctim, slot->atOpen.st_ctim);
}

bool WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    if (PlFault(PlCall::Write)) return false;
    ssize_t n = write(fd, data, count < kMaxIo ? count : kMaxIo);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Writes the text before the last separator of `path` as a directory name
// into `out` (kPathBytes): "." when there is none, "/" when it is empty.
bool DirectoryOf(const WCHAR* path, char* out) {
  const WCHAR* last = wcsrchr(path, L'/');
  if (last == nullptr) return PlEncode(L".", out, kPathBytes);
  if (last == path) return PlEncode(L"/", out, kPathBytes);
  WCHAR dir[MAX_PATH];
  size_t length = static_cast<size_t>(last - path);
  if (length >= MAX_PATH) return false;
  wmemcpy(dir, path, length);
  dir[length] = L'\0';
  return PlEncodePath(dir, out);
}

bool SyncFd(int fd) {
  if (PlFlushDisabled()) return true;
  if (PlFault(PlCall::Sync)) return false;
  int result;
  do {
    result = fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Opens the directory named by `dirBytes`; -1 on failure.
int OpenDirectory(const char* dirBytes) {
  if (PlFault(PlCall::Open)) return -1;
  return open(dirBytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Copies up to `size` bytes of `in` to `out` from both files' offsets, and
// stops early only where `in` ends; `*copied` counts the bytes moved.
bool CopyBytes(int in, int out, uint64_t size, uint64_t* copied) {
  *copied = 0;
  bool kernelCopy = true;
  while (*copied < size) {
    uint64_t left = size - *copied;
    size_t ask = left < kMaxIo ? static_cast<size_t>(left) : kMaxIo;
    if (kernelCopy) {
      if (PlFault(PlCall::Copy)) return false;
      ssize_t n = copy_file_range(in, nullptr, out, nullptr, ask, 0);
      if (n == 0) return true;
      if (n > 0) {
        *copied += static_cast<uint64_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EBADF) {
        return false;
      }
      kernelCopy = false;  // not between these files: read and write
      continue;
    }
    char buffer[65536];
    if (PlFault(PlCall::Read)) return false;
    ssize_t n = read(in, buffer, ask < sizeof(buffer) ? ask : sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
    *copied += static_cast<uint64_t>(n);
  }
  return true;
}

// One slot of the small table that remembers the size of each VirtualAlloc
// block, so that VirtualFree can release it whole.
struct Block {
  void* address;
  size_t size;
};
constexpr int kMaxBlocks = 16;
Block g_blocks[kMaxBlocks];

}  // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
  (void)security;
  (void)flags;
  (void)templateFile;
  FileSlot* slot = nullptr;
  if (access == GENERIC_READ) {
    const bool exclusive = (share & FILE_SHARE_READ) == 0;
    if (disposition == OPEN_EXISTING) slot = OpenForReading(name, true, exclusive);
  } else if (access == GENERIC_WRITE) {
    // A write open shares at most reading, and no open of the program
    // shares writing: it conflicts with every other open.
    slot = OpenForWriting(name, disposition);
  }
  return slot != nullptr ? static_cast<HANDLE>(slot) : INVALID_HANDLE_VALUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, void* overlapped) {
  (void)overlapped;
  if (done != nullptr) *done = 0;
  FileSlot* slot = SlotOf(file);
  if (slot == nullptr || slot->writing) return FALSE;
  char* at = static_cast<char*>(buffer);
  size_t wanted = count;
  size_t got = 0;
  while (got < wanted) {
    size_t ask = wanted - got < kMaxIo ? wanted - got : kMaxIo;
    if (PlFault(PlCall::Read)) return FALSE;
    ssize_t n = read(slot->fd, at + got, ask);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FALSE;
    if (n == 0) {
      // The end of the file: it must be the end of the file as it was
      // opened, read whole.
      if (!UnchangedSinceOpen(slot)) return FALSE;
      break;
    }
    got += static_cast<size_t>(n);
    slot->offset += static_cast<uint64_t>(n);
  }
  if (done != nullptr) *done = static_cast<DWORD>(got);
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, LPDWORD done, void* overlapped) {
  (void)overlapped;
  if (done != nullptr) *done = 0;
  FileSlot* slot = SlotOf(file);
  if (slot == nullptr || !slot->writing) return FALSE;
  if (!WriteAll(slot->fd, static_cast<const char*>(buffer), count)) return FALSE;
  // The disk write of these bytes starts now, without waiting for it, so
  // that the flush that puts the file on stable storage finds most of the
  // work done while the program went on reading.
  if (!PlFlushDisabled()) {
    sync_file_range(slot->fd, static_cast<off64_t>(slot->offset), count, SYNC_FILE_RANGE_WRITE);
  }
  slot->offset += count;
  if (done != nullptr) *done = count;
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  FileSlot* slot = SlotOf(file);
  if (slot == nullptr || !SyncFd(slot->fd)) return FALSE;
  // The file's directory entry too: a new file is only durable with it. One
  // flush of a directory covers every entry made in it before: as long as
  // the program makes, renames and removes no entry, the next file's flush
  // in the same directory need not repeat it (a split flushes each member
  // of a set in turn).
  char dirBytes[kPathBytes];
  if (!DirectoryOf(slot->path, dirBytes)) return FALSE;
  if (g_syncedDirValid && std::strcmp(dirBytes, g_syncedDir) == 0) return TRUE;
  int dir = OpenDirectory(dirBytes);
  if (dir < 0) return FALSE;
  bool synced = SyncFd(dir);
  CloseFd(dir);
  if (!synced) return FALSE;
  std::memcpy(g_syncedDir, dirBytes, std::strlen(dirBytes) + 1);
  g_syncedDirValid = true;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  FileSlot* slot = SlotOf(handle);
  if (slot == nullptr) return FALSE;
  ReleaseSlot(slot);
  return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
  if (high != nullptr) *high = 0;
  FileSlot* slot = SlotOf(file);
  struct stat now;
  if (slot == nullptr || fstat(slot->fd, &now) != 0) return INVALID_FILE_SIZE;
  uint64_t size = static_cast<uint64_t>(now.st_size);
  if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL CopyFileW(LPCWSTR source, LPCWSTR target, BOOL failIfExists) {
  // The source is held in the registry while the target is opened, so a
  // target that is the source itself (or a hard link to it) is refused
  // before it is emptied.
  FileSlot* in = OpenForReading(source, false);
  if (in == nullptr) return FALSE;
  // The copy gets the source's permission bits and the owner's write bit,
  // whatever the umask: a copied script stays executable, a copy is never
  // read-only. A new file is made with them, and changed only where the
  // umask took some away.
  const mode_t mode = (in->atOpen.st_mode & 07777) | S_IWUSR;
  FileSlot* out = OpenForWriting(target, failIfExists ? CREATE_NEW : CREATE_ALWAYS, mode);
  if (out == nullptr) {
    ReleaseSlot(in);
    return FALSE;
  }
  // The bytes that the source had at the open are copied. The copy is whole
  // only if all of them came and the source did not change meanwhile: its
  // size and times are as they were at the open.
  const uint64_t size = static_cast<uint64_t>(in->atOpen.st_size);
  uint64_t copied = 0;
  struct stat after;
  bool whole = CopyBytes(in->fd, out->fd, size, &copied) && copied == size &&
               fstat(in->fd, &after) == 0 && after.st_size == in->atOpen.st_size &&
               SameTime(after.st_mtim, in->atOpen.st_mtim) &&
               SameTime(after.st_ctim, in->atOpen.st_ctim);
  whole = whole && ((out->atOpen.st_mode & 07777) == mode ||
                    (!PlFault(PlCall::Chmod) && fchmod(out->fd, mode) == 0));
  // A copy that failed is not left half made: the target that this call
  // created or emptied goes, as long as it is still the file written here.
  if (!whole) {
    char targetBytes[kPathBytes];
    struct stat now;
    if (PlEncodePath(target, targetBytes) && lstat(targetBytes, &now) == 0 &&
        now.st_dev == out->atOpen.st_dev && now.st_ino == out->atOpen.st_ino &&
        !PlFault(PlCall::Unlink)) {
      unlink(targetBytes);
      EntriesChanged();
    }
  }
  ReleaseSlot(out);
  ReleaseSlot(in);
  return whole ? TRUE : FALSE;
}

BOOL DeleteFileW(LPCWSTR name) {
  char bytes[kPathBytes];
  if (!PlEncodePath(name, bytes)) return FALSE;
  struct stat own;
  if (lstat(bytes, &own) != 0) return FALSE;
  if (S_ISDIR(own.st_mode)) return FALSE;
  if (S_ISREG(own.st_mode) && (own.st_mode & kWriteBits) == 0) return FALSE;  // read-only
  if (HeldByUs(own.st_dev, own.st_ino, false)) return FALSE;
  // A file that another run holds open is not removed either: the removal
  // takes the exclusive lock for its moment, and the name must still lead to
  // the locked file. A file that cannot be opened to be locked (no read
  // permission) is removed without it.
  int fd = -1;
  if (S_ISREG(own.st_mode)) {
    if (PlFault(PlCall::Open)) return FALSE;
    fd = open(bytes, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno != EACCES) return FALSE;
    struct stat opened;
    if (fd >= 0 && (!TakeShareLock(fd, true) || fstat(fd, &opened) != 0 || !SameFile(opened, own) ||
                    !StillNamed(bytes, opened, false))) {
      CloseFd(fd);
      return FALSE;
    }
  }
  bool removed = !PlFault(PlCall::Unlink) && unlink(bytes) == 0;
  if (removed) EntriesChanged();
  if (fd >= 0) CloseFd(fd);
  return removed ? TRUE : FALSE;
}

BOOL MoveFileExW(LPCWSTR source, LPCWSTR target, DWORD flags) {
  char from[kPathBytes];
  char to[kPathBytes];
  if (!PlEncodePath(source, from) || !PlEncodePath(target, to)) return FALSE;
  // Never replaces: an entry at the target, of any kind, fails the move.
  if (PlFault(PlCall::Rename)) return FALSE;
  EntriesChanged();
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return FALSE;
    // The file system cannot rename without replacing: a new link fails
    // when the target exists, and the old name goes once the new one stands.
    if (link(from, to) != 0) return FALSE;
    if (unlink(from) != 0) {
      unlink(to);  // the same file under both names: nothing is lost
      return FALSE;
    }
  }
  if ((flags & MOVEFILE_WRITE_THROUGH) != 0) {
    char dirBytes[kPathBytes];
    if (!DirectoryOf(target, dirBytes)) return FALSE;
    int toDir = OpenDirectory(dirBytes);
    if (toDir < 0) return FALSE;
    bool synced = SyncFd(toDir);
    struct stat toStat;
    synced = synced && fstat(toDir, &toStat) == 0;
    if (synced && DirectoryOf(source, dirBytes)) {
      int fromDir = OpenDirectory(dirBytes);
      struct stat fromStat;
      if (fromDir < 0 || fstat(fromDir, &fromStat) != 0) {
        synced = false;
      } else if (fromStat.st_dev != toStat.st_dev || fromStat.st_ino != toStat.st_ino) {
        synced = SyncFd(fromDir);
      }
      if (fromDir >= 0) CloseFd(fromDir);
    } else {
      synced = false;
    }
    CloseFd(toDir);
    if (!synced) return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
  char bytes[kPathBytes];
  if (!PlEncodePath(name, bytes)) return INVALID_FILE_ATTRIBUTES;
  return PlAttributesAt(AT_FDCWD, bytes);
}

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  if (address != nullptr || size == 0 || (type & MEM_COMMIT) == 0 || protect != PAGE_READWRITE) {
    return nullptr;
  }
  int slot = -1;
  for (int i = 0; i < kMaxBlocks && slot < 0; ++i) {
    if (g_blocks[i].address == nullptr) slot = i;
  }
  if (slot < 0) return nullptr;
  // Anonymous memory comes zeroed. Its pages are brought in by the first
  // read that fills them, not here: a small file fills only the start of a
  // chunk-sized buffer, and the other pages would be zeroed for nothing.
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  g_blocks[slot].address = memory;
  g_blocks[slot].size = size;
  return memory;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  if (address == nullptr || size != 0 || type != MEM_RELEASE) return FALSE;
  for (int i = 0; i < kMaxBlocks; ++i) {
    if (g_blocks[i].address == address) {
      bool released = munmap(address, g_blocks[i].size) == 0;
      g_blocks[i].address = nullptr;
      g_blocks[i].size = 0;
      return released ? TRUE : FALSE;
    }
  }
  return FALSE;
}
