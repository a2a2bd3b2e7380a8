#pragma once
// The form in which paths are handed to the operating system: UTF-16 on
// Windows, bytes on everything else. Keys of the project model and all JSON
// stay UTF-8 byte strings; these helpers cross between the two.

#include <string>
#include <string_view>

namespace varnholt_app {

#ifdef _WIN32
using NativeString = std::wstring;
using NativeChar = wchar_t;
inline constexpr NativeChar kNativeSeparator = L'\\';
#else
using NativeString = std::string;
using NativeChar = char;
inline constexpr NativeChar kNativeSeparator = '/';
#endif

// UTF-8 path to the native form. On Windows ill-formed bytes become U+FFFD;
// elsewhere the bytes are kept as they are.
NativeString utf8ToNative(std::string_view utf8);

// Native path to UTF-8. False only on Windows, for a name with an unpaired
// surrogate; elsewhere the bytes are kept as they are.
bool nativeToUtf8(const NativeString& native, std::string& out);

// Native path to UTF-8 that never fails: on Windows an unpaired surrogate
// becomes U+FFFD; elsewhere the bytes are kept as they are.
std::string nativeToUtf8Lossy(const NativeString& native);

// A literal ASCII text in native form, e.g. for file names the program knows.
NativeString asciiToNative(std::string_view ascii);

}  // namespace varnholt_app
