#pragma once
// The shell's common item dialogs: the folder picker and the PNG save dialog.
// Both are modal and keep the message loop running while they are open.

#include <windows.h>

#include <string>

#include "shell/platform.h"

namespace varnholt_app {

// The chosen folder as a file-system path; empty when cancelled or failed.
std::wstring showFolderPicker(HWND owner);

// Asks where to save the snapshot (suggesting `fileName` when not empty)
// and writes `pngBytes` there: the path chosen, and why it was not written.
SnapshotSaveResult saveSnapshotWithDialog(HWND owner, const std::wstring& fileName,
                                          const std::string& pngBytes);

// Creates or replaces `path` with `bytes` in one write. Empty when every byte
// was written, else why not; a short write leaves what was written.
std::string writeSnapshotFile(const std::wstring& path, const std::string& bytes);

}  // namespace varnholt_app
