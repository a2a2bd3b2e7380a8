#pragma once
// The page the window shows: "VarnholtUI.html" beside the executable, read
// once, or a short notice when that file is missing or empty.

#include <string>
#include <string_view>

namespace varnholt_app {

inline constexpr std::string_view kPageFileName = "VarnholtUI.html";

inline constexpr std::string_view kFallbackPageHtml =
    "<!doctype html><html><head><meta charset='utf-8'/><title>Varnholt</title></head>"
    "<body style='font-family:system-ui'><h3>Varnholt UI file missing</h3>"
    "<p>Expected <code>VarnholtUI.html</code> next to the executable.</p></body></html>";

// Folder of the running executable with a trailing '/', or empty when it
// cannot be found (the page is then looked up in the current directory).
std::string executableFolder();

// The page text from this file as well-formed UTF-8: ill-formed bytes become
// U+FFFD, a byte-order mark stays in front. The fallback page when the file
// is missing, unreadable or empty.
std::string readPageFile(const std::string& path);

// The page beside the executable; read on the first call only.
const std::string& uiPageHtml();

}  // namespace varnholt_app
