// Directory enumeration through the directory's handle, which gives every
// entry its file index and change time along with size and times; where a
// file system refuses that, FindFirstFileExW lists the folder, without file
// stamps. Plain entries are taken as listed; reparse points (symbolic links,
// junctions) are opened to learn about their target.

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <memory>
#include <string>

#include "base/file_io.h"
#include "project/walk.h"
#include "project/walk_platform.h"

namespace varnholt_app {

namespace {

// The buffer each batch of entries is listed into; 64 KiB is the most a
// network file system serves at once.
constexpr size_t kListingBytes = 64 * 1024;

}  // namespace

struct DirectoryReader::Listing {
  // Listed by handle while `handle` is valid, else by FindFirstFileExW.
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::unique_ptr<uint64_t[]> buffer;  // 8-byte aligned, as the entries are
  size_t offset = 0;                   // of the next entry in `buffer`
  bool bufferHasMore = false;          // `offset` points at an entry
  bool ended = false;                  // the system said there is no more
  uint64_t volume = 0;

  HANDLE find = INVALID_HANDLE_VALUE;
  bool havePending = false;  // `data` holds an entry not yet returned
  WIN32_FIND_DATAW data;

  ~Listing() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }

  // The next batch of entries into `buffer`; false with the system's error.
  bool fetch(bool restart) {
    bufferHasMore = false;
    offset = 0;
    if (!GetFileInformationByHandleEx(
            handle, restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
            buffer.get(), static_cast<DWORD>(kListingBytes))) {
      return false;
    }
    bufferHasMore = true;
    return true;
  }
};

namespace {

// In UTF-16 units, the \\?\ prefix included; the prefix takes at most 8.
constexpr size_t kLongestSystemPath = 32767;
constexpr size_t kLongPrefixUnits = 8;

// Opens anything, directories included, following links; for queries only.
HANDLE openForQuery(const NativeString& path) {
  return CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int64_t combine(DWORD high, DWORD low) {
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

int64_t fileTime(const FILETIME& t) { return combine(t.dwHighDateTime, t.dwLowDateTime); }

uint64_t fileIndex(const BY_HANDLE_FILE_INFORMATION& info) {
  return static_cast<uint64_t>(combine(info.nFileIndexHigh, info.nFileIndexLow));
}

// Without a file index a file replaced by another of the same size and times
// would pass for the old one: such files get no stamp and are read again.
// Some file systems give 0, or all ones for an index that does not fit.
FileStamp stampOf(uint64_t volume, uint64_t object, int64_t size, int64_t written,
                  int64_t changed) {
  if (object == 0 || object == ~uint64_t{0}) return FileStamp{};
  return FileStamp{volume, object, size, written, changed};
}

PathStatus fromAttributes(DWORD attributes, DWORD sizeHigh, DWORD sizeLow) {
  PathStatus status;
  status.exists = true;
  status.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.size = status.isDirectory ? 0 : combine(sizeHigh, sizeLow);
  return status;
}

bool isDots(const wchar_t* name, size_t length) {
  return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

}  // namespace

PathStatus statPath(const NativeString& path) {
  HANDLE h = openForQuery(path);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    const bool known = GetFileInformationByHandle(h, &info) != FALSE;
    const bool changeKnown =
        known && GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) != FALSE;
    CloseHandle(h);
    if (known) {
      PathStatus status =
          fromAttributes(info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow);
      if (changeKnown) {
        status.stamp = stampOf(info.dwVolumeSerialNumber, fileIndex(info), status.size,
                               fileTime(info.ftLastWriteTime), basic.ChangeTime.QuadPart);
      }
      return status;
    }
  }
  // Some entries refuse every open but still show their attributes.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return PathStatus{};
  }
  return fromAttributes(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow);
}

int64_t fileClockNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return fileTime(now);
}

int64_t fileClockGranularity() { return 20000000; }

DirectoryReader::DirectoryReader() = default;
DirectoryReader::~DirectoryReader() { close(); }

void DirectoryReader::close() { listing_.reset(); }

bool DirectoryReader::open(const NativeString& path) {
  close();
  path_ = path;
  identity_ = DirIdentity{};
  const NativeString longPath = systemPath(path);
  auto listing = std::make_unique<Listing>();
  BY_HANDLE_FILE_INFORMATION info;
  // Read access to the attributes as well, for the identity from the same
  // handle.
  listing->handle = CreateFileW(longPath.c_str(),
                                FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (listing->handle != INVALID_HANDLE_VALUE) {
    if (!GetFileInformationByHandle(listing->handle, &info)) {
      CloseHandle(listing->handle);
      listing->handle = INVALID_HANDLE_VALUE;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return false;
    } else {
      listing->buffer.reset(new uint64_t[kListingBytes / sizeof(uint64_t)]);
      if (!listing->fetch(true)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) {
          listing->ended = true;  // an empty drive root
        } else {
          CloseHandle(listing->handle);
          listing->handle = INVALID_HANDLE_VALUE;
          listing->buffer.reset();
        }
      }
    }
  }
  if (listing->handle == INVALID_HANDLE_VALUE) {
    HANDLE h = openForQuery(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL known = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    const NativeString pattern = systemPath(joinPath(path, L"*"));
    listing->find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &listing->data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    // Not even a first entry: the directory cannot be listed and counts as
    // empty (a drive root without entries ends up here too).
    if (listing->find == INVALID_HANDLE_VALUE) return false;
    listing->havePending = true;
  }
  listing->volume = info.dwVolumeSerialNumber;
  listing_ = std::move(listing);
  identity_.volume = info.dwVolumeSerialNumber;
  identity_.object = fileIndex(info);
  identity_.known = identity_.object != 0;
  return true;
}

bool DirectoryReader::next(DirEntry& entry) {
  if (!listing_) return false;
  Listing& listing = *listing_;
  for (;;) {
    const wchar_t* name = nullptr;
    size_t nameLength = 0;
    DWORD attributes = 0;
    int64_t size = 0;
    FileStamp stamp;
    if (listing.handle != INVALID_HANDLE_VALUE) {
      if (!listing.bufferHasMore && (listing.ended || !listing.fetch(false))) {
        const DWORD error = listing.ended ? ERROR_NO_MORE_FILES : GetLastError();
        close();
        if (error == ERROR_NO_MORE_FILES) return false;
        throw Failure("listing " + nativeToUtf8Lossy(path_) + " failed (error " +
                        std::to_string(error) + ")");
      }
      const auto* bytes = reinterpret_cast<const unsigned char*>(listing.buffer.get());
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + listing.offset);
      const size_t nameStart = listing.offset + offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
      if (nameStart > kListingBytes || info->FileNameLength > kListingBytes - nameStart) {
        close();
        throw Failure("listing " + nativeToUtf8Lossy(path_) + " gave a malformed entry");
      }
      nameLength = info->FileNameLength / sizeof(wchar_t);
      name = info->FileName;
      attributes = info->FileAttributes;
      size = info->EndOfFile.QuadPart;
      stamp = stampOf(listing.volume, static_cast<uint64_t>(info->FileId.QuadPart), size,
                      info->LastWriteTime.QuadPart, info->ChangeTime.QuadPart);
      const DWORD step = info->NextEntryOffset;
      listing.bufferHasMore = step != 0 && listing.offset + step < kListingBytes;
      listing.offset += step;
    } else {
      if (!listing.havePending && !FindNextFileW(listing.find, &listing.data)) {
        const DWORD error = GetLastError();
        close();
        if (error == ERROR_NO_MORE_FILES) return false;
        throw Failure("listing " + nativeToUtf8Lossy(path_) + " failed (error " +
                        std::to_string(error) + ")");
      }
      listing.havePending = false;
      const WIN32_FIND_DATAW& data = listing.data;
      name = data.cFileName;
      nameLength = wcslen(name);
      attributes = data.dwFileAttributes;
      size = combine(data.nFileSizeHigh, data.nFileSizeLow);
    }
    if (isDots(name, nameLength)) continue;
    entry.name.assign(name, nameLength);
    // Beyond this not even the long form reaches the entry: better a failed
    // run than a file that silently goes missing.
    if (path_.size() + 1 + entry.name.size() + kLongPrefixUnits >= kLongestSystemPath) {
      throw Failure("the path of " + nativeToUtf8Lossy(joinPath(path_, entry.name)) +
                      " is too long for the system");
    }
    entry.listedStamp = FileStamp{};
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      entry.kind = EntryKind::Other;
      entry.listedSize = -1;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      entry.kind = EntryKind::Directory;
      entry.listedSize = 0;
    } else {
      entry.kind = EntryKind::File;
      entry.listedSize = size;
      entry.listedStamp = stamp;
    }
    return true;
  }
}

PathStatus DirectoryReader::status(const DirEntry& entry) {
  if (entry.kind != EntryKind::Other) {
    PathStatus status;
    status.exists = true;
    status.isDirectory = entry.kind == EntryKind::Directory;
    status.size = entry.listedSize;
    status.stamp = entry.listedStamp;
    return status;
  }
  return statPath(joinPath(path_, entry.name));
}

bool DirectoryReader::readPrefix(const DirEntry& entry, char* buffer, size_t capacity,
                                 size_t& got) {
  got = 0;
  InputFile file;
  if (!file.open(joinPath(path_, entry.name))) return false;
  const int64_t n = file.read(buffer, capacity);
  if (n < 0) return false;
  got = static_cast<size_t>(n);
  return true;
}

}  // namespace varnholt_app
