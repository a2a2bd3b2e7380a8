// Feeds arbitrary page messages to the dispatcher of a loaded application.

#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/project/temp_tree.h"
#include "../tests/shell/fake_platform.h"
#include "base/utf.h"
#include "shell/app_ui.h"

namespace {

using namespace varnholt_app;

struct Loaded {
  Loaded() {
    tree.file("a.c", "int main(void) { return 0; }\n");
    platform.attach(&app);
    app.onCreate();
    app.startAnalysis(tree.native(), false);
    platform.runThread();
    platform.pump();
    app.onWebViewReady();
  }
  varnholt_app::testing::TempTree tree;
  FakePlatform platform;
  AppUI app{platform};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Loaded* loaded = new Loaded();
  // Half the inputs as UTF-8, half as raw UTF-16 units, so both reach the parser.
  std::u16string message;
  if (size > 0 && (data[0] & 1)) {
    for (size_t i = 1; i + 1 < size; i += 2) {
      message.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    message = utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  }
  loaded->app.handleWebMessage(message);
  loaded->platform.pump();
  loaded->platform.sent.clear();
  loaded->platform.saves.clear();
  return 0;
}
