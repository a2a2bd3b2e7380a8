#include "shell/page_session.h"

#include <gtest/gtest.h>

#include <string>

#include "base/utf.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

// Commands arrive as UTF-8 under Linux and as UTF-16 under Windows.
TEST(CommandField, ReadsUtf8AsTheUtf16ReaderReadsTheSameCommand) {
  const std::string commands[] = {
      R"({"type":"uiReady"})",
      "{ \"type\" :\t\r\n\"selectFile\", \"path_b64\":\"L3gvYS5j\"}",
      "{\"type\":\"\xC5\xB5iReady\"}",                             // U+0175 reduces to 'u'
      "{\"path_b64\":\"L3\xC3\xA9g\xF0\x9F\x98\x80x\",\"line\":\"7\"}",  // two- and four-byte characters
      "{\"path_b64\":\"a\xFF\xC3(\xE2\x82\",\"type\":\"b\"}",      // ill-formed bytes
      "{\"line\":\"12\xED\xA0\x80\"}",                             // an encoded surrogate
      R"({"type":5})", R"({"type":"open)", R"({"type")", "", R"({"xtype":"a","type":"b"})",
  };
  for (const std::string& json : commands) {
    for (const std::u16string key : {u"type", u"path_b64", u"line"}) {
      EXPECT_EQ(commandField(json, utf16ToUtf8Lossy(key)), extractJsonString(utf8ToUtf16(json), key.c_str()))
          << json;
    }
  }
}

}  // namespace
}  // namespace varnholt_app
