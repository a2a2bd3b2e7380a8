#include "base/native_string.h"

#include "base/utf.h"

namespace varnholt_app {

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t));

NativeString utf8ToNative(std::string_view utf8) {
  std::u16string wide = utf8ToUtf16(utf8);
  return NativeString(wide.begin(), wide.end());
}

bool nativeToUtf8(const NativeString& native, std::string& out) {
  std::u16string_view view(reinterpret_cast<const char16_t*>(native.data()), native.size());
  return utf16ToUtf8(view, out);
}

std::string nativeToUtf8Lossy(const NativeString& native) {
  std::u16string_view view(reinterpret_cast<const char16_t*>(native.data()), native.size());
  return utf16ToUtf8Lossy(view);
}
#else
NativeString utf8ToNative(std::string_view utf8) { return NativeString(utf8); }

bool nativeToUtf8(const NativeString& native, std::string& out) {
  out = native;
  return true;
}

std::string nativeToUtf8Lossy(const NativeString& native) { return native; }
#endif

NativeString asciiToNative(std::string_view ascii) {
  return NativeString(ascii.begin(), ascii.end());
}

}  // namespace varnholt_app
