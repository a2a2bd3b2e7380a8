// Arbitrary bytes on the language server's stdin: framing, then every
// frame through the dispatcher of an initialised server. Whatever comes
// in, every message going out must be valid JSON.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "lsp/framing.h"
#include "lsp/server.h"

using namespace varnholt_app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LspHost host;
  host.send = [](std::string body) {
    if (nlohmann::json::parse(body, nullptr, false).is_discarded()) std::abort();
  };
  LspServer server(host);
  server.handle(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"initializationOptions":{"codeLens":true,"inlayHints":true}}})");
  FrameReader reader;
  reader.append(std::string_view(reinterpret_cast<const char*>(data), size));
  std::string body;
  for (FrameReader::Result r; (r = reader.next(body)) != FrameReader::Result::NeedMore;) {
    if (r == FrameReader::Result::Frame) server.handle(body);
    if (server.finished()) break;
  }
  server.flush();
  return 0;
}
