#pragma once
// The file side of saving a snapshot: the name the save dialog settles on,
// and writing the PNG bytes.

#include <string>
#include <string_view>

namespace varnholt_app {

// `path` with "." + `extension` appended when its file name has none (a
// leading dot alone, as in ".png", does not count as an extension).
std::string withDefaultExtension(const std::string& path, std::string_view extension);

// Creates or truncates the file and writes all of `bytes`. Empty on success,
// else why not (the system's reason); what was written stays.
std::string writeWholeFile(const std::string& path, std::string_view bytes);

}  // namespace varnholt_app
