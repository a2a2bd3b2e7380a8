#pragma once
// The two modal dialogs: the folder picker and the PNG save dialog. Both run
// a nested main loop, so timers and posted messages keep being handled.

#include <string>

#include "shell/platform.h"

typedef struct _GtkWindow GtkWindow;

namespace varnholt_app {

// The chosen folder, or empty when cancelled.
std::string showFolderPicker(GtkWindow* owner);

// Asks where to save (proposing `suggestedName`, asking before replacing a
// file) and writes `pngBytes` there: the path chosen, and why it was not
// written. No path when cancelled.
SnapshotSaveResult saveSnapshotWithDialog(GtkWindow* owner, const std::string& suggestedName,
                                          const std::string& pngBytes);

}  // namespace varnholt_app
