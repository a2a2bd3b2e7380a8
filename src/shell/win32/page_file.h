#pragma once
// The page the web view shows: "VarnholtUI.html" beside the executable, or a
// short built-in page that says it is missing.

#include <string>
#include <string_view>

namespace varnholt_app {

inline constexpr wchar_t kPageFileName[] = L"VarnholtUI.html";

// Shown when the page file is missing, unreadable or empty.
inline constexpr std::wstring_view kFallbackPage =
    L"<!doctype html><html><head><meta charset='utf-8'/><title>Varnholt</title></head>"
    L"<body style='font-family:system-ui'><h3>Varnholt UI file missing</h3>"
    L"<p>Expected <code>VarnholtUI.html</code> next to the executable.</p></body></html>";

// The folder part of a path: up to and including its last '\' or '/';
// empty when there is none.
std::wstring folderPart(std::wstring_view path);

// The folder of the running executable with its trailing separator; empty
// when the module path cannot be had (files are then looked up relative to
// the current directory).
std::wstring executableFolder();

// The file's bytes as UTF-8 turned into UTF-16; a byte-order mark stays in
// front. Empty when the file cannot be read or is empty.
std::wstring readPageFile(const std::wstring& path);

// The text to navigate to: the page file in `folder`, or the fallback page.
std::wstring loadUiPage(const std::wstring& folder);

}  // namespace varnholt_app
