// Feeds arbitrary page messages to the dispatcher of a loaded application.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "../tests/shell/fake_platform.h"
#include "base/utf.h"
#include "shell/app_ui.h"

namespace {

using namespace varnholt_app;

// A fixed root, so that the dictionary can name its files (base64 of the
// paths in dispatcher.dict) and selectFile and explainLine reach them.
constexpr char kRoot[] = "/tmp/varnholt_fuzz_dispatcher";

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

struct Loaded {
  Loaded() {
    const std::filesystem::path root(kRoot);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    writeFile(root / "a.c", "int main(void) {\n  for (int i = 0; i < 3; i++) { if (i) return i; }\n}\n");
    writeFile(root / "sub" / "b.py", "def f(x):\n    return [y for y in x if y and not y.z]\n");
    writeFile(root / "bad\xff.js", "if (a && b) { c(); }\n");
    platform.attach(&app);
    app.onCreate();
    app.startAnalysis(root.native(), false);
    platform.runThread();
    platform.pump();
    app.onWebViewReady();
  }
  FakePlatform platform;
  AppUI app{platform};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Loaded* loaded = new Loaded();
  // Half the inputs as UTF-8 bytes as they come on Linux, half as UTF-16
  // units turned into UTF-8 as the Windows view does.
  std::string message;
  if (size > 0 && (data[0] & 1)) {
    std::u16string units;
    for (size_t i = 1; i + 1 < size; i += 2) {
      units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    message = utf16ToUtf8Lossy(units);
  } else {
    message.assign(reinterpret_cast<const char*>(data), size);
  }
  loaded->app.handleWebMessage(message);
  loaded->platform.pump();
  loaded->platform.sent.clear();
  loaded->platform.saves.clear();
  return 0;
}
