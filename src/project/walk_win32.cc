// Directory enumeration with FindFirstFileExW. Plain entries are taken as
// listed; reparse points (symbolic links, junctions) are opened to learn
// about their target.

#include <windows.h>

#include <utility>

#include "project/walk.h"
#include "project/walk_platform.h"

namespace varnholt_app {

namespace {

// Opens anything, directories included, following links; for queries only.
HANDLE openForQuery(const NativeString& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
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

std::string lastErrorText(const NativeString& path, DWORD error) {
  return "listing " + nativeToUtf8Lossy(path) + " failed (error " + std::to_string(error) + ")";
}

}  // namespace

PathStatus statPath(const NativeString& path) {
  PathStatus status;
  BY_HANDLE_FILE_INFORMATION info;
  if (queryTarget(path, info)) {
    status.exists = true;
    status.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.size = status.isDirectory ? 0 : combine(info.nFileSizeHigh, info.nFileSizeLow);
    return status;
  }
  // Some entries refuse every open but still show their attributes.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return status;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return status;  // target unknown
  status.exists = true;
  status.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.size = status.isDirectory ? 0 : combine(data.nFileSizeHigh, data.nFileSizeLow);
  return status;
}

DirectoryReader::~DirectoryReader() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

bool DirectoryReader::open(const NativeString& path) {
  path_ = path;
  HANDLE h = openForQuery(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(h);
    return false;
  }
  handle_ = h;
  identity_.volume = info.dwVolumeSerialNumber;
  identity_.object = static_cast<uint64_t>(combine(info.nFileIndexHigh, info.nFileIndexLow));
  identity_.known = identity_.object != 0;
  return true;
}

void DirectoryReader::readAll(std::vector<DirEntry>& entries) {
  if (handle_ == nullptr) return;
  NativeString pattern = joinPath(path_, L"*");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  // Not even a first entry: the directory could not be listed, so it counts
  // as empty (a drive root without entries ends up here too).
  if (find == INVALID_HANDLE_VALUE) return;
  for (;;) {
    const NativeString name = data.cFileName;
    if (name != L"." && name != L"..") {
      DirEntry entry;
      entry.name = name;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.isDirectory ? 0 : combine(data.nFileSizeHigh, data.nFileSizeLow);
      } else if (name[0] != L'.') {
        BY_HANDLE_FILE_INFORMATION info;
        if (queryTarget(joinPath(path_, name), info)) {
          entry.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
          entry.size = entry.isDirectory ? 0 : combine(info.nFileSizeHigh, info.nFileSizeLow);
        }
      }
      entries.push_back(std::move(entry));
    }
    if (!FindNextFileW(find, &data)) {
      const DWORD error = GetLastError();
      FindClose(find);
      if (error != ERROR_NO_MORE_FILES) throw WalkError(lastErrorText(path_, error));
      return;
    }
  }
}

}  // namespace varnholt_app
