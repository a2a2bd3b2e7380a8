#pragma once
// Path components of UTF-8 paths as the walk produces them, Windows or
// POSIX: "\" and "/" both separate, and a root name (C:, \\server, \\?\,
// \\.\, \??\) never counts as a component.

#include <string_view>

namespace varnholt_app {

// The last component, empty when the path is only a root or ends with a
// separator. The result views into `path`.
std::string_view lastComponent(std::string_view path);

// The path without its last component and the separators in front of it,
// never shortened into the root: the parent of C:\main.c is C:\. The result
// views into `path`.
std::string_view parentPath(std::string_view path);

// The name a chosen folder goes by: its last component (trailing separators
// aside), or the whole path for a root such as "/" or "C:\".
std::string_view folderDisplayName(std::string_view folder);

}  // namespace varnholt_app
