#include "shell/page_file.h"

#include "base/file_io.h"
#include "base/utf.h"

namespace varnholt_app {

std::string readPageFile(const NativeString& path) {
  std::string bytes;
  if (!readWholeFile(path, bytes, kMaxPageBytes) || bytes.empty()) {
    return std::string(kFallbackPageHtml);
  }
  // Round trip through UTF-16, the form the Windows view takes, so that both
  // views get the same text.
  return utf16ToUtf8Lossy(utf8ToUtf16(bytes));
}

const std::string& uiPageHtml() {
  static const std::string page = readPageFile(executableFolder() + asciiToNative(kPageFileName));
  return page;
}

}  // namespace varnholt_app
