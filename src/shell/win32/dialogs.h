#pragma once
// The shell's common item dialogs: the folder picker and the PNG save dialog.
// Both are modal and keep the message loop running while they are open.

#include <windows.h>

#include <string>

namespace varnholt_app {

// The chosen folder as a file-system path; empty when cancelled or failed.
std::wstring showFolderPicker(HWND owner);

// Asks where to save the snapshot (suggesting `fileName` when not empty)
// and writes `pngBytes` there. True only when every byte was written.
bool saveSnapshotWithDialog(HWND owner, const std::wstring& fileName,
                            const std::string& pngBytes);

// Creates or replaces `path` with `bytes` in one write. True only when every
// byte was written; a short write leaves what was written.
bool writeSnapshotFile(const std::wstring& path, const std::string& bytes);

}  // namespace varnholt_app
