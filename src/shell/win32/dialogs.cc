#include "shell/win32/dialogs.h"

#include <shobjidl.h>

#include <limits>

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

bool saveSnapshotWithDialog(HWND owner, const std::wstring& fileName,
                            const std::string& pngBytes) {
  // Nothing to save, or more than one write can take: no dialog at all.
  if (pngBytes.empty() || pngBytes.size() > std::numeric_limits<DWORD>::max()) return false;
  IFileSaveDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileSaveDialog, reinterpret_cast<void**>(&dialog))) ||
      dialog == nullptr) {
    return false;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_OVERWRITEPROMPT | FOS_FORCEFILESYSTEM);
  const COMDLG_FILTERSPEC pngType = {L"PNG Image (*.png)", L"*.png"};
  dialog->SetFileTypes(1, &pngType);
  dialog->SetDefaultExtension(L"png");
  if (!fileName.empty()) dialog->SetFileName(fileName.c_str());
  const std::wstring path = showAndGetPath(dialog, owner);
  const bool written = !path.empty() && writeSnapshotFile(path, pngBytes);
  dialog->Release();
  return written;
}

bool writeSnapshotFile(const std::wstring& path, const std::string& bytes) {
  if (bytes.size() > std::numeric_limits<DWORD>::max()) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD size = static_cast<DWORD>(bytes.size());
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), size, &written, nullptr);
  CloseHandle(file);
  return ok && written == size;
}

}  // namespace varnholt_app
