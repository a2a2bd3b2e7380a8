#pragma once
// The line count of a file as the project total sees it.

#include <cstdint>
#include <string_view>

namespace varnholt_app {

// Number of line feeds, plus one when the last byte is not a line feed; 0 for
// an empty file, one that cannot be opened, and one larger than the window
// (of which at most one byte more is read). A lone carriage return ends no
// line.
int32_t countLines(std::string_view utf8Path);

// The same for bytes already read.
int32_t countLinesIn(std::string_view bytes);

// The same, also giving the number of bytes read.
int32_t countLines(std::string_view utf8Path, int64_t& bytesRead);

}  // namespace varnholt_app
