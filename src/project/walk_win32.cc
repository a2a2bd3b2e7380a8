// Directory enumeration with FindFirstFileExW. Plain entries are taken as
// listed; reparse points (symbolic links, junctions) are opened to learn
// about their target.

#include <windows.h>

#include <string>

#include "base/file_io.h"
#include "project/walk.h"
#include "project/walk_platform.h"

namespace varnholt_app {

struct DirectoryReader::Listing {
  HANDLE find = INVALID_HANDLE_VALUE;
  bool havePending = false;  // `data` holds an entry not yet returned
  WIN32_FIND_DATAW data;
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

bool queryTarget(const NativeString& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h = openForQuery(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  return ok != FALSE;
}

int64_t fileTime(const FILETIME& t) { return combine(t.dwHighDateTime, t.dwLowDateTime); }

PathStatus fromAttributes(DWORD attributes, DWORD sizeHigh, DWORD sizeLow) {
  PathStatus status;
  status.exists = true;
  status.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.size = status.isDirectory ? 0 : combine(sizeHigh, sizeLow);
  return status;
}

// The listing gives no change time and no file index; the creation time
// stands in for the change time, so a file replaced by another of the same
// size and write time still shows.
FileStamp stampOf(const PathStatus& status, const FILETIME& written, const FILETIME& created,
                  uint64_t volume, uint64_t object) {
  FileStamp stamp;
  stamp.volume = volume;
  stamp.object = object;
  stamp.size = status.size;
  stamp.modified = fileTime(written);
  stamp.changed = fileTime(created);
  return stamp;
}

}  // namespace

PathStatus statPath(const NativeString& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (queryTarget(path, info)) {
    PathStatus status = fromAttributes(info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow);
    status.stamp = stampOf(status, info.ftLastWriteTime, info.ftCreationTime,
                           info.dwVolumeSerialNumber,
                           static_cast<uint64_t>(combine(info.nFileIndexHigh, info.nFileIndexLow)));
    return status;
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

void DirectoryReader::close() {
  if (listing_ && listing_->find != INVALID_HANDLE_VALUE) FindClose(listing_->find);
  listing_.reset();
}

bool DirectoryReader::open(const NativeString& path) {
  close();
  path_ = path;
  BY_HANDLE_FILE_INFORMATION info;
  if (!queryTarget(path, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  auto listing = std::make_unique<Listing>();
  const NativeString pattern = systemPath(joinPath(path, L"*"));
  listing->find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &listing->data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  // Not even a first entry: the directory cannot be listed and counts as
  // empty (a drive root without entries ends up here too).
  if (listing->find == INVALID_HANDLE_VALUE) return false;
  listing->havePending = true;
  listing_ = std::move(listing);
  identity_.volume = info.dwVolumeSerialNumber;
  identity_.object = static_cast<uint64_t>(combine(info.nFileIndexHigh, info.nFileIndexLow));
  identity_.known = identity_.object != 0;
  return true;
}

bool DirectoryReader::next(DirEntry& entry) {
  if (!listing_) return false;
  for (;;) {
    if (!listing_->havePending) {
      if (!FindNextFileW(listing_->find, &listing_->data)) {
        const DWORD error = GetLastError();
        close();
        if (error == ERROR_NO_MORE_FILES) return false;
        throw WalkError("listing " + nativeToUtf8Lossy(path_) + " failed (error " +
                        std::to_string(error) + ")");
      }
    }
    listing_->havePending = false;
    const WIN32_FIND_DATAW& data = listing_->data;
    const wchar_t* name = data.cFileName;
    if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
    entry.name.assign(name);
    // Beyond this not even the long form reaches the entry: better a failed
    // run than a file that silently goes missing.
    if (path_.size() + 1 + entry.name.size() + kLongPrefixUnits >= kLongestSystemPath) {
      throw WalkError("the path of " + nativeToUtf8Lossy(joinPath(path_, entry.name)) +
                      " is too long for the system");
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      entry.kind = EntryKind::Other;
      entry.listedSize = -1;
    } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      entry.kind = EntryKind::Directory;
      entry.listedSize = 0;
    } else {
      entry.kind = EntryKind::File;
      entry.listedSize = combine(data.nFileSizeHigh, data.nFileSizeLow);
      entry.listedWrite = fileTime(data.ftLastWriteTime);
      entry.listedCreation = fileTime(data.ftCreationTime);
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
    status.stamp.volume = identity_.volume;
    status.stamp.size = entry.listedSize;
    status.stamp.modified = entry.listedWrite;
    status.stamp.changed = entry.listedCreation;
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
