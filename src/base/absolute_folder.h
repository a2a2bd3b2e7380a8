#pragma once
// The one form in which every program hands a folder named on its command
// line to the analysis, the same form the folder picker gives.

#include "base/native_string.h"

namespace varnholt_app {

// `folder` made absolute against the current directory and lexically normal:
// no "." or ".." steps, no repeated separators ('\' on Windows) and no
// trailing one except for a root. Symbolic links are kept as named. When the
// current directory cannot be had, `folder` is only normalised.
NativeString absoluteFolder(const NativeString& folder);

}  // namespace varnholt_app
