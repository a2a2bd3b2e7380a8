#pragma once
// Which entries of a project folder take part in the project, and in which
// language. Fixed tables, built on first use and kept for the whole process.

#include <optional>
#include <string>
#include <string_view>

#include "base/file_io.h"
#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

// Files outside this window (in bytes) are never analysed.
inline constexpr int64_t kMinAnalysableSize = 1;
inline constexpr int64_t kMaxAnalysableSize = kFileWindowBytes;  // still accepted

// How many bytes from the start of a file the text test looks at.
inline constexpr size_t kTextProbeBytes = 65536;

// Directory names that are never walked (exact, case-sensitive).
bool isIgnoredDirectoryName(std::string_view name);
// File names that are never project files (exact, case-sensitive).
bool isIgnoredFileName(std::string_view name);
// Takes a lower-cased extension without its dot; the empty one is never ignored.
bool isIgnoredExtension(std::string_view extension);
// True when the UTF-8 path, ASCII lower-cased and with backslashes read as
// "/", contains "/xcuserdata/" or "/.xcuserdata/".
bool isInsideXcuserdata(std::string_view utf8Path);
// Language of a lower-cased extension without its dot; nothing for an
// extension that is not source code of a known kind.
std::optional<LanguageId> languageForExtension(std::string_view extension);

// The extension of a file name without its dot, ASCII lower-cased; empty for
// names without one, for "." and "..", and for names like ".profile" whose
// only dot is the first character.
std::string extensionOf(std::string_view name);

// The text test for files of unknown type: the first 64 KiB hold no NUL byte
// and at most 2 % control bytes other than tab, CR and LF. An empty file
// passes; a file that cannot be opened does not.
bool looksLikeText(const NativeString& path);
// The same test on bytes already read.
bool bytesLookLikeText(std::string_view bytes);

}  // namespace varnholt_app
