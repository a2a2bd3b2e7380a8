#pragma once
// The page the window shows: "VarnholtUI.html" beside the executable or in
// the installed data folder, read once, or a short notice when neither is
// there.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/native_string.h"

namespace varnholt_app {

inline constexpr std::string_view kPageFileName = "VarnholtUI.html";

inline constexpr std::string_view kFallbackPageHtml =
    "<!doctype html><html><head><meta charset='utf-8'/><title>Varnholt</title></head>"
    "<body style='font-family:system-ui'><h3>Varnholt UI file missing</h3>"
    "<p>Expected <code>VarnholtUI.html</code> next to the executable.</p></body></html>";

// Where an install puts the page, relative to the executable's folder.
inline constexpr std::string_view kInstalledPageFolder = "../share/varnholt/";

// Far above any real page (the view itself takes at most 2 MB of text), low
// enough that a stray huge file cannot exhaust memory.
inline constexpr int64_t kMaxPageBytes = 64 * 1024 * 1024;

// Folder of the running executable with its trailing separator, or empty
// when it cannot be had (the page is then looked up in the current
// directory). One implementation per platform.
NativeString executableFolder();

// The page text from this file as well-formed UTF-8: ill-formed bytes become
// U+FFFD, a byte-order mark stays in front. The fallback page when the file
// is missing, unreadable, empty or larger than kMaxPageBytes.
std::string readPageFile(const NativeString& path);

// The page from `exeFolder` (with its trailing separator), else from
// kInstalledPageFolder below it, else the fallback page. A missing, empty or
// oversized file counts as absent.
std::string readPageNear(const NativeString& exeFolder);

// readPageNear(executableFolder()), read on the first call only.
const std::string& uiPageHtml();

}  // namespace varnholt_app
