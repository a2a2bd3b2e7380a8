#pragma once
// Which directory entries belong to a project. Only the directory-name rule
// is here so far; the rest of the scan rules come with the walk.

#include <string_view>

namespace varnholt_app {

// True for a directory name the walk never enters (exact, case-sensitive).
bool isIgnoredDirectoryName(std::string_view name);

}  // namespace varnholt_app
