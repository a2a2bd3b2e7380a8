#include "base/absolute_folder.h"

#include <filesystem>
#include <system_error>

namespace varnholt_app {

NativeString absoluteFolder(const NativeString& folder) {
  namespace fs = std::filesystem;
  if (folder.empty()) return folder;
  std::error_code error;
  fs::path path = fs::absolute(fs::path(folder), error);
  if (error) path = fs::path(folder);
  path = path.lexically_normal();
  // "/a/b/" normalises to "/a/b/" (an empty last step); a root stays as it is.
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path.native();
}

}  // namespace varnholt_app
