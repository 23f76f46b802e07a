// Directory listings over POSIX: the whole directory is read when a listing
// starts, filtered by the name pattern and sorted by the bytes of the names,
// so a listing is reproducible and never returns an entry made after it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/text.h"

namespace {

struct Entry {
  size_t nameAt;  // offset of the name's bytes in the listing's pool
  DWORD attributes;
};

struct Listing {
  uint32_t magic;
  char* pool;  // the matching names' bytes, each with its terminator
  size_t poolUsed;
  size_t poolRoom;
  Entry* entries;
  size_t count;
  size_t room;
  size_t next;  // the entry that FindNextFileW returns
};

constexpr uint32_t kListingMagic = 0x4C495354u;

// '*' stands for any run of characters (none included), '?' for exactly
// one; every other character stands for itself, case kept.
bool Matches(const wchar_t* pattern, const wchar_t* name) {
  const wchar_t* star = nullptr;  // the last '*' seen, to fall back to
  const wchar_t* resume = nullptr;
  while (*name != L'\0') {
    if (*pattern == L'*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == L'?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == L'*') ++pattern;
  return *pattern == L'\0';
}

void FreeListing(Listing* listing) {
  listing->magic = 0;
  std::free(listing->pool);
  std::free(listing->entries);
  std::free(listing);
}

bool AddEntry(Listing* listing, const char* name, DWORD attributes) {
  size_t length = std::strlen(name) + 1;
  if (listing->poolRoom - listing->poolUsed < length) {
    size_t room = listing->poolRoom * 2 + length + 4096;
    char* pool = static_cast<char*>(std::realloc(listing->pool, room));
    if (pool == nullptr) return false;
    listing->pool = pool;
    listing->poolRoom = room;
  }
  if (listing->count == listing->room) {
    size_t room = listing->room * 2 + 64;
    Entry* entries = static_cast<Entry*>(std::realloc(listing->entries, room * sizeof(Entry)));
    if (entries == nullptr) return false;
    listing->entries = entries;
    listing->room = room;
  }
  std::memcpy(listing->pool + listing->poolUsed, name, length);
  listing->entries[listing->count].nameAt = listing->poolUsed;
  listing->entries[listing->count].attributes = attributes;
  listing->count += 1;
  listing->poolUsed += length;
  return true;
}

// The attributes of one entry, from d_type where it says enough: a
// directory, or an entry that is neither a directory nor a link (a file, or
// a FIFO, socket or device, which the open refuses later). Only a link, to
// tell one that leads to a directory, and an entry of unknown type cost a
// stat. The read-only bit is not looked up here: a file is read-only or not
// when it is opened or removed, not when it was listed.
DWORD AttributesOf(int dirFd, const struct dirent* entry) {
  if (entry->d_type == DT_DIR) return FILE_ATTRIBUTE_DIRECTORY;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return FILE_ATTRIBUTE_NORMAL;
  DWORD attributes = PlAttributesAt(dirFd, entry->d_name);
  // An entry that went away after it was read is listed as a plain one; the
  // open of it fails later.
  if (attributes == INVALID_FILE_ATTRIBUTES) return FILE_ATTRIBUTE_NORMAL;
  return attributes & ~FILE_ATTRIBUTE_READONLY;
}

// Reads every entry of `dirBytes` whose decoded name matches `namePattern`.
Listing* ReadListing(const char* dirBytes, const wchar_t* namePattern) {
  DIR* dir = opendir(dirBytes);
  if (dir == nullptr) return nullptr;
  Listing* listing = static_cast<Listing*>(std::calloc(1, sizeof(Listing)));
  if (listing == nullptr) {
    closedir(dir);
    return nullptr;
  }
  listing->magic = kListingMagic;
  int dirFd = dirfd(dir);
  for (;;) {
    // readdir gives NULL both at the end and on an error; only errno tells
    // them apart, and a listing that could not be read whole is none.
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) {
        closedir(dir);
        FreeListing(listing);
        return nullptr;
      }
      break;
    }
    wchar_t name[MAX_PATH];
    if (!PlDecode(entry->d_name, std::strlen(entry->d_name), name, MAX_PATH)) continue;
    if (!Matches(namePattern, name)) continue;
    if (!AddEntry(listing, entry->d_name, AttributesOf(dirFd, entry))) {
      closedir(dir);
      FreeListing(listing);
      return nullptr;
    }
  }
  closedir(dir);
  const char* pool = listing->pool;
  std::sort(listing->entries, listing->entries + listing->count,
            [pool](const Entry& a, const Entry& b) {
              return std::strcmp(pool + a.nameAt, pool + b.nameAt) < 0;
            });
  return listing;
}

// Fills `data` with the listing's next entry; false at the end.
bool NextEntry(Listing* listing, WIN32_FIND_DATAW* data) {
  while (listing->next < listing->count) {
    const Entry& entry = listing->entries[listing->next++];
    const char* name = listing->pool + entry.nameAt;
    // A name holds at most 255 bytes and so fits; the check stays anyway.
    if (!PlDecode(name, std::strlen(name), data->cFileName, MAX_PATH)) continue;
    data->dwFileAttributes = entry.attributes;
    return true;
  }
  return false;
}

Listing* ListingOf(HANDLE find) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE) return nullptr;
  Listing* listing = static_cast<Listing*>(find);
  return listing->magic == kListingMagic ? listing : nullptr;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
  // The directory is the text before the last separator ("." when there is
  // none, "/" when that text is empty); the name pattern is the rest.
  WCHAR dir[MAX_PATH];
  const wchar_t* namePattern = pattern;
  const wchar_t* last = wcsrchr(pattern, L'/');
  if (last == nullptr) {
    dir[0] = L'.';
    dir[1] = L'\0';
  } else if (last == pattern) {
    dir[0] = L'/';
    dir[1] = L'\0';
    namePattern = last + 1;
  } else {
    size_t length = static_cast<size_t>(last - pattern);
    if (length >= MAX_PATH) return INVALID_HANDLE_VALUE;
    wmemcpy(dir, pattern, length);
    dir[length] = L'\0';
    namePattern = last + 1;
  }
  // The whole pattern must be a name the layer accepts, as on Windows.
  char patternBytes[kPathBytes];
  char dirBytes[kPathBytes];
  if (!PlEncodePath(pattern, patternBytes) || !PlEncodePath(dir, dirBytes)) {
    return INVALID_HANDLE_VALUE;
  }
  Listing* listing = ReadListing(dirBytes, namePattern);
  if (listing == nullptr) return INVALID_HANDLE_VALUE;
  if (!NextEntry(listing, data)) {
    FreeListing(listing);
    return INVALID_HANDLE_VALUE;
  }
  return static_cast<HANDLE>(listing);
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data) {
  Listing* listing = ListingOf(find);
  if (listing == nullptr) return FALSE;
  return NextEntry(listing, data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE find) {
  Listing* listing = ListingOf(find);
  if (listing == nullptr) return FALSE;
  FreeListing(listing);
  return TRUE;
}
