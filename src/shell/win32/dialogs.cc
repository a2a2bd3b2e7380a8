#include "shell/win32/dialogs.h"

#include <shobjidl.h>

#include <limits>
#include <string>

namespace varnholt_app {

namespace {

// The item's file-system path; empty when it has none.
std::wstring fileSystemPath(IShellItem* item) {
  std::wstring path;
  PWSTR name = nullptr;
  if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) && name != nullptr) {
    path = name;
    CoTaskMemFree(name);
  }
  return path;
}

// The dialog's result as a path; empty when the user cancelled.
std::wstring showAndGetPath(IFileDialog* dialog, HWND owner) {
  if (FAILED(dialog->Show(owner))) return {};
  IShellItem* item = nullptr;
  if (FAILED(dialog->GetResult(&item)) || item == nullptr) return {};
  std::wstring path = fileSystemPath(item);
  item->Release();
  return path;
}

}  // namespace

std::wstring showFolderPicker(HWND owner) {
  IFileDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileDialog, reinterpret_cast<void**>(&dialog))) ||
      dialog == nullptr) {
    return {};
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  std::wstring path = showAndGetPath(dialog, owner);
  dialog->Release();
  return path;
}

SnapshotSaveResult saveSnapshotWithDialog(HWND owner, const std::wstring& fileName,
                                          const std::string& pngBytes) {
  // Nothing to save, or more than one write can take: no dialog at all.
  if (pngBytes.empty()) return {{}, "the picture is empty"};
  if (pngBytes.size() > std::numeric_limits<DWORD>::max()) return {{}, "the picture is too large"};
  IFileSaveDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileSaveDialog, reinterpret_cast<void**>(&dialog))) ||
      dialog == nullptr) {
    return {{}, "the save dialog could not be opened"};
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_OVERWRITEPROMPT | FOS_FORCEFILESYSTEM);
  const COMDLG_FILTERSPEC pngType = {L"PNG Image (*.png)", L"*.png"};
  dialog->SetFileTypes(1, &pngType);
  dialog->SetDefaultExtension(L"png");
  if (!fileName.empty()) dialog->SetFileName(fileName.c_str());
  SnapshotSaveResult result;
  result.path = showAndGetPath(dialog, owner);
  if (!result.path.empty()) result.error = writeSnapshotFile(result.path, pngBytes);
  dialog->Release();
  return result;
}

std::string writeSnapshotFile(const std::wstring& path, const std::string& bytes) {
  if (bytes.size() > std::numeric_limits<DWORD>::max()) return "the picture is too large";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
  const DWORD size = static_cast<DWORD>(bytes.size());
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), size, &written, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (!ok) return "error " + std::to_string(error);
  return written == size ? std::string() : std::string("not every byte was written");
}

}  // namespace varnholt_app
