#pragma once
// Reading request parameters and writing ranges, for the server's files.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "lsp/document.h"
#include "protocol/json.h"

namespace varnholt_app {

using Json = nlohmann::json;

inline void appendRange(std::string& out, int64_t line, int64_t from, int64_t to) {
  out += "{\"start\":{\"line\":";
  appendInt(out, line);
  out += ",\"character\":";
  appendInt(out, from);
  out += "},\"end\":{\"line\":";
  appendInt(out, line);
  out += ",\"character\":";
  appendInt(out, to);
  out += "}}";
}

inline const Json& member(const Json& object, const char* key) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

inline std::optional<std::string> stringMember(const Json& object, const char* key) {
  const Json& v = member(object, key);
  if (!v.is_string()) return std::nullopt;
  return v.get<std::string>();
}

inline int64_t intMember(const Json& object, const char* key, int64_t fallback = 0) {
  const Json& v = member(object, key);
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_unsigned()) return static_cast<int64_t>(std::min<uint64_t>(v.get<uint64_t>(), INT64_MAX));
  return fallback;
}

inline TextPosition positionOf(const Json& p) {
  return {intMember(p, "line"), intMember(p, "character")};
}

}  // namespace varnholt_app
