#pragma once
// What a client may configure, from initializationOptions or
// workspace/didChangeConfiguration (either the object itself or under
// "varnholt").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "base/file_io.h"
#include "project/file_scope.h"

namespace varnholt_app {

struct LspSettings {
  bool diagnostics = true;
  // Raw heat a line must exceed for a diagnostic; unset: the project's audit
  // lines and the lines above its 99th line percentile.
  std::optional<double> threshold;
  int severity = 4;  // 1 error, 2 warning, 3 information, 4 hint
  bool codeLens = false;
  bool inlayHints = false;
  bool lineHeat = true;  // the varnholt/lineHeat notification
  std::vector<std::string> exclude;  // globs on paths below the workspace folder
  int64_t maxFileBytes = kFileWindowBytes;
  FileScope scope = FileScope::Code;
};

// Applies the members present in `options`; wrong types are ignored and
// reported in `problems`, one line each. True when something that changes
// the project's walk (exclude, size limit, scope) changed.
bool applySettings(LspSettings& settings, const nlohmann::json& options,
                   std::vector<std::string>& problems);

// Glob on "/"-separated relative paths: "*" and "?" stay inside one
// component, "**" spans components ("**/" also matches nothing). A pattern
// without "/" matches the last component anywhere, as .gitignore reads it.
bool globMatches(std::string_view pattern, std::string_view path);

}  // namespace varnholt_app
