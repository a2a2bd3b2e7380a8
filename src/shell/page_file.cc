#include "shell/page_file.h"

#include "base/file_io.h"
#include "base/utf.h"

namespace varnholt_app {

namespace {

bool readPageText(const NativeString& path, std::string& text) {
  std::string bytes;
  if (!readWholeFile(path, bytes, kMaxPageBytes) || bytes.empty()) return false;
  // Round trip through UTF-16, the form the Windows view takes, so that both
  // views get the same text.
  text = utf16ToUtf8Lossy(utf8ToUtf16(bytes));
  return true;
}

}  // namespace

std::string readPageFile(const NativeString& path) {
  std::string text;
  return readPageText(path, text) ? text : std::string(kFallbackPageHtml);
}

std::string readPageNear(const NativeString& exeFolder) {
  NativeString installed = asciiToNative(kInstalledPageFolder);
  for (NativeChar& c : installed) {
    if (c == '/') c = kNativeSeparator;
  }
  const NativeString name = asciiToNative(kPageFileName);
  std::string text;
  if (readPageText(exeFolder + name, text) || readPageText(exeFolder + installed + name, text)) {
    return text;
  }
  return std::string(kFallbackPageHtml);
}

const std::string& uiPageHtml() {
  static const std::string page = readPageNear(executableFolder());
  return page;
}

}  // namespace varnholt_app
