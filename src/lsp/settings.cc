#include "lsp/settings.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace varnholt_app {
namespace {

int severityFrom(const nlohmann::json& v) {
  if (v.is_number_integer()) {
    const auto n = v.get<int64_t>();
    return n >= 1 && n <= 4 ? static_cast<int>(n) : 0;
  }
  if (!v.is_string()) return 0;
  const std::string& s = v.get_ref<const std::string&>();
  if (s == "error") return 1;
  if (s == "warning") return 2;
  if (s == "information" || s == "info") return 3;
  if (s == "hint") return 4;
  return 0;
}

bool matchFrom(std::string_view p, std::string_view s) {
  while (!p.empty()) {
    if (p.substr(0, 2) == "**") {
      std::string_view rest = p.substr(2);
      const bool slash = !rest.empty() && rest.front() == '/';
      if (slash) rest.remove_prefix(1);
      for (size_t i = 0; i <= s.size(); ++i) {
        // "**/" stands for whole components: try after each "/" and at the start.
        if ((!slash || i == 0 || s[i - 1] == '/') && matchFrom(rest, s.substr(i))) return true;
      }
      return false;
    }
    if (p.front() == '*') {
      for (size_t i = 0; i <= s.size(); ++i) {
        if (matchFrom(p.substr(1), s.substr(i))) return true;
        if (i < s.size() && s[i] == '/') break;
      }
      return false;
    }
    if (s.empty() || (p.front() == '?' ? s.front() == '/' : p.front() != s.front())) return false;
    p.remove_prefix(1);
    s.remove_prefix(1);
  }
  return s.empty();
}

}  // namespace

bool globMatches(std::string_view pattern, std::string_view path) {
  // Each "*" multiplies the backtracking by the path's length: keep both small.
  if (pattern.empty() || pattern.size() > 256 ||
      std::count(pattern.begin(), pattern.end(), '*') > 8) {
    return false;
  }
  while (!pattern.empty() && pattern.back() == '/') pattern.remove_suffix(1);
  if (pattern.find('/') == std::string_view::npos) {
    // Any component, or anything below a matching folder.
    size_t start = 0;
    while (start <= path.size()) {
      const size_t end = path.find('/', start);
      const std::string_view part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      if (matchFrom(pattern, part)) return true;
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    return false;
  }
  if (pattern.front() == '/') pattern.remove_prefix(1);
  if (matchFrom(pattern, path)) return true;
  // A folder pattern covers what is below it.
  for (size_t i = path.find('/'); i != std::string_view::npos; i = path.find('/', i + 1)) {
    if (matchFrom(pattern, path.substr(0, i))) return true;
  }
  return false;
}

bool applySettings(LspSettings& s, const nlohmann::json& options,
                   std::vector<std::string>& problems) {
  if (!options.is_object()) return false;
  const nlohmann::json& o =
      options.contains("varnholt") && options["varnholt"].is_object() ? options["varnholt"] : options;
  bool walkChanged = false;
  auto flag = [&](const char* key, bool& field) {
    if (!o.contains(key)) return;
    if (o[key].is_boolean()) {
      field = o[key].get<bool>();
    } else {
      problems.push_back(std::string(key) + ": expected true or false");
    }
  };
  flag("diagnostics", s.diagnostics);
  flag("codeLens", s.codeLens);
  flag("inlayHints", s.inlayHints);
  flag("lineHeat", s.lineHeat);
  if (o.contains("threshold")) {
    const nlohmann::json& v = o["threshold"];
    if (v.is_null()) {
      s.threshold.reset();
    } else if (v.is_number() && std::isfinite(v.get<double>()) && v.get<double>() >= 0) {
      s.threshold = v.get<double>();
    } else {
      problems.push_back("threshold: expected a raw heat of 0 or more, or null");
    }
  }
  if (o.contains("severity")) {
    const int severity = severityFrom(o["severity"]);
    if (severity != 0) {
      s.severity = severity;
    } else {
      problems.push_back("severity: expected error, warning, information, hint or 1..4");
    }
  }
  if (o.contains("exclude")) {
    std::vector<std::string> globs;
    bool ok = o["exclude"].is_array();
    if (ok) {
      for (const nlohmann::json& g : o["exclude"]) {
        if (!g.is_string()) {
          ok = false;
          break;
        }
        globs.push_back(g.get<std::string>());
      }
    }
    if (!ok) {
      problems.push_back("exclude: expected a list of globs");
    } else if (globs != s.exclude) {
      s.exclude = std::move(globs);
      walkChanged = true;
    }
  }
  if (o.contains("maxFileBytes")) {
    const nlohmann::json& v = o["maxFileBytes"];
    if (v.is_number_integer() && v.get<int64_t>() > 0) {
      const int64_t bytes = std::min<int64_t>(v.get<int64_t>(), kFileWindowBytes);
      walkChanged |= bytes != s.maxFileBytes;
      s.maxFileBytes = bytes;
    } else {
      problems.push_back("maxFileBytes: expected a positive whole number");
    }
  }
  if (o.contains("scope")) {
    const nlohmann::json& v = o["scope"];
    const std::optional<FileScope> scope =
        v.is_string() ? parseFileScope(v.get_ref<const std::string&>()) : std::nullopt;
    if (scope) {
      walkChanged |= *scope != s.scope;
      s.scope = *scope;
    } else {
      problems.push_back("scope: expected all, code or nontest");
    }
  }
  return walkChanged;
}

}  // namespace varnholt_app
