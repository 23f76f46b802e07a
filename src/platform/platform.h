// The platform layer: every file, directory, module, memory and console
// service that the rest of Parcelot uses. This header is the layer's whole
// interface. On Windows the file services are the system's own; elsewhere
// they are implemented over POSIX under the same names, with the same
// arguments and the behaviour their callers rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Windows' CopyFileW gives the copy the source's attributes, the read-only
// one included. A companion must stay writable: the split opens it for
// writing to flush it, a later split replaces it and a join removes it. So
// the layer's copy is the system's, with the read-only attribute of the
// copy cleared (a failure to clear it fails the copy).
BOOL PlCopyFileWritable(LPCWSTR source, LPCWSTR target, BOOL failIfExists);
#define CopyFileW PlCopyFileWritable

#define PL_SEP_CHAR L'\\'
#define PL_SEP L"\\"

#else  // POSIX

typedef int BOOL;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* LPVOID;
typedef size_t SIZE_T;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;

#define TRUE 1
#define FALSE 0

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFFu)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFFu)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_RELEASE 0x00008000u
#define PAGE_READWRITE 0x04u

#define MOVEFILE_WRITE_THROUGH 0x00000008u

// One entry of a listing. Only the attributes and the name are kept.
typedef struct {
  DWORD dwFileAttributes;
  WCHAR cFileName[MAX_PATH];
} WIN32_FIND_DATAW;

// Opens an existing regular file (OPEN_EXISTING) or creates one
// (CREATE_ALWAYS: an existing regular file is emptied; CREATE_NEW: fails when
// any entry stands at the name). Access is GENERIC_READ or GENERIC_WRITE;
// the share mode is FILE_SHARE_READ or 0, and is honoured between the
// program's handles, in one process or in several, as Windows does it: a
// write open, and a read open with share mode 0, fail while any such handle
// holds the same file; a read open that shares reading fails while one holds
// it for writing or with share mode 0. Such a conflict is found before
// anything is emptied. Other programs are not hindered. Only regular files are
// opened: a FIFO, socket, device or directory is never opened (its type is
// checked before the open, and again after it, without blocking). A create
// never follows a symbolic link at its name. A read open fails when another
// process holds the file open for writing (where the system can tell), and
// a file opened for reading that then changes makes the read that reaches
// its end fail. An existing file with no write permission bit is read-only:
// it cannot be opened for writing. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);

// Reads up to `count` bytes, continuing short reads of the system: fewer
// bytes than asked only at the end of the file; 0 bytes: the end. A read that
// reaches the end of a file that changed since it was opened fails.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, void* overlapped);

// Writes all `count` bytes, continuing short writes; FALSE when any fails.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, LPDWORD done, void* overlapped);

// Puts the file's data and its directory entry on stable storage.
BOOL FlushFileBuffers(HANDLE file);

BOOL CloseHandle(HANDLE handle);

// Copies a regular file's bytes to the target, replacing a regular file
// there unless `failIfExists`. The copy gets the source's permission bits plus
// the owner's write bit. The target never follows a symbolic link, and a
// target that is the source itself, or read-only, fails the copy.
BOOL CopyFileW(LPCWSTR source, LPCWSTR target, BOOL failIfExists);

// Removes a file (a symbolic link itself, not its target). Fails for a
// read-only file, a directory, or a file that a handle of the program, in
// this process or another, holds open.
BOOL DeleteFileW(LPCWSTR name);

// Renames `source` to `target`. Without MOVEFILE_REPLACE_EXISTING (never
// passed here) it fails when any entry stands at the target. With
// MOVEFILE_WRITE_THROUGH the new entry is on stable storage on return.
BOOL MoveFileExW(LPCWSTR source, LPCWSTR target, DWORD flags);

// The attributes of the entry at `name` (a symbolic link's own), or
// INVALID_FILE_ATTRIBUTES when there is none.
DWORD GetFileAttributesW(LPCWSTR name);

// The low 32 bits of the file's size; the high 32 bits in *high when given.
DWORD GetFileSize(HANDLE file, LPDWORD high);

// Memory from the system's virtual-memory service, committed, zeroed.
// NULL for a size of 0 or when none can be had.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type);

// Lists the entries of the directory named before the last separator of
// `pattern` whose names match the text after it: "*" stands for any run of
// characters, "?" for one character, case is kept. The listing is taken
// when it starts, sorted by the bytes of the names, so it never returns an
// entry made after that. "." and ".." are listed like other directories.
// A symbolic link has FILE_ATTRIBUTE_REPARSE_POINT, plus
// FILE_ATTRIBUTE_DIRECTORY when it leads to a directory. Other entries are
// FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL: a listing costs no
// stat per file, so it does not report the read-only bit
// (GetFileAttributesW does).
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

// Both follow the system's rule: the length written, without the
// terminator; when the text does not fit, GetCurrentDirectoryW returns the
// room it needs and GetModuleFileNameW returns `size`. 0: failure.
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

#define PL_SEP_CHAR L'/'
#define PL_SEP L"/"

#endif  // _WIN32

// Services of our own, the same on every platform.

typedef WCHAR PathBuffer[MAX_PATH];

// True for a character that separates a path's parts on this platform.
bool PlIsSeparator(wchar_t c);

// printf-style formatting of wide text into `out`, which has room for `room`
// characters including the terminator. False, with `out` empty, when the
// result does not fit or cannot be formatted: nothing is ever cut short.
bool PlFormat(wchar_t* out, size_t room, const wchar_t* format, ...);

// Copies `text` into `out` (room as above); false, with `out` empty, when it
// does not fit.
bool PlCopy(wchar_t* out, size_t room, const wchar_t* text);

// Prints one formatted line on standard output, converted to the selected
// locale's encoding; a character that the encoding cannot show prints as "?".
void PlPrint(const wchar_t* format, ...);

// The program's entry function: called once by the platform's start-up with
// the command-line words as wide text (words[0] the program's name). Its
// result is the exit status.
int ParcelotMain(int count, wchar_t** words);
