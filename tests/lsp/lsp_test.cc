#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "lsp/document.h"
#include "lsp/framing.h"
#include "lsp/heat_view.h"
#include "lsp/server.h"

namespace varnholt_app {
namespace {

std::vector<std::string> frames(FrameReader& reader, int* bad = nullptr) {
  std::vector<std::string> out;
  std::string body;
  for (FrameReader::Result r; (r = reader.next(body)) != FrameReader::Result::NeedMore;) {
    if (r == FrameReader::Result::Frame) out.push_back(body);
    if (r == FrameReader::Result::BadHeader && bad != nullptr) ++*bad;
  }
  return out;
}

TEST(Framing, SplitsJoinsAndResynchronises) {
  FrameReader reader;
  const std::string two = frameMessage("{\"a\":1}") + "content-length: 2\nX-Other: y\n\n[]";
  reader.append(two.substr(0, 5));
  EXPECT_TRUE(frames(reader).empty());
  reader.append(two.substr(5));
  EXPECT_EQ(frames(reader), (std::vector<std::string>{"{\"a\":1}", "[]"}));
  int bad = 0;
  reader.append("Content-Length: -3\r\n\r\ngarbage" + frameMessage("{}"));
  EXPECT_EQ(frames(reader, &bad), std::vector<std::string>{"{}"});
  EXPECT_EQ(bad, 1);
  // A length beyond the limit is skipped with its body, however it arrives.
  reader.append("Content-Length: " + std::to_string(kMaxFrameBytes + 1) + "\r\n\r\n");
  reader.append(std::string(kMaxFrameBytes + 1, 'x') + frameMessage("1"));
  EXPECT_EQ(frames(reader, &bad), std::vector<std::string>{"1"});
  EXPECT_EQ(reader.buffered(), 0u);
}

TEST(Document, Utf16PositionsAndEdits) {
  // "é" is one unit in two bytes, the emoji two units in four bytes.
  TextDocument doc("a\xC3\xA9\xF0\x9F\x98\x80z\r\nsecond\nthird");
  EXPECT_EQ(doc.lineCount(), 3u);
  EXPECT_EQ(doc.offsetOf({0, 2}), 3u);
  EXPECT_EQ(doc.offsetOf({0, 3}), 3u);  // inside the pair: before it
  EXPECT_EQ(doc.offsetOf({0, 4}), 7u);
  EXPECT_EQ(doc.offsetOf({0, 99}), 8u);  // clamps before the CR
  EXPECT_EQ(doc.offsetOf({9, 0}), doc.text().size());
  EXPECT_EQ(utf16Length(doc.line(0)), 5);
  doc.replace({1, 3}, {2, 2}, "X\nY");
  EXPECT_EQ(doc.text().substr(10), "secX\nYird");
  EXPECT_EQ(doc.line(2), "Yird");
  doc.replace({0, 1}, {1, 0}, "\n\n");  // the kept line starts match a recount
  const TextDocument fresh(doc.text());
  ASSERT_EQ(doc.lineCount(), fresh.lineCount());
  for (size_t i = 0; i < doc.lineCount(); ++i) EXPECT_EQ(doc.line(i), fresh.line(i));
}

std::string native(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

TEST(Document, FileUris) {
  EXPECT_EQ(pathFromFileUri("file:///tmp/a%20b/%C3%A9.c"), native("/tmp/a b/\xC3\xA9.c"));
  EXPECT_EQ(pathFromFileUri("file://localhost/x"), native("/x"));
  EXPECT_FALSE(pathFromFileUri("file://server/x"));
  EXPECT_FALSE(pathFromFileUri("untitled:1"));
  EXPECT_FALSE(pathFromFileUri("file:///a%2"));
  EXPECT_FALSE(pathFromFileUri("file:///a%00b"));
  EXPECT_EQ(pathFromFileUri(fileUriFromPath(native("/a b/#%?.c"))), native("/a b/#%?.c"));
#ifdef _WIN32
  EXPECT_EQ(pathFromFileUri("file:///c%3A/x/y.c"), "c:\\x\\y.c");
  EXPECT_EQ(fileUriFromPath("C:\\x"), "file:///C%3A/x");
#endif
}

TEST(Settings, Globs) {
  EXPECT_TRUE(globMatches("*.min.js", "web/app.min.js"));
  EXPECT_TRUE(globMatches("vendor", "vendor/x/y.c"));
  EXPECT_TRUE(globMatches("src/**/gen_*.c", "src/gen_a.c"));
  EXPECT_TRUE(globMatches("src/**/gen_*.c", "src/a/b/gen_a.c"));
  EXPECT_FALSE(globMatches("src/*.c", "src/a/b.c"));
  EXPECT_FALSE(globMatches("a?c", "a/c"));
  EXPECT_FALSE(globMatches("**/x", "ax"));
}

ProjectFile fileOf(const std::string& path, LanguageId language, const std::vector<double>& lines) {
  ProjectFile f;
  f.path = path;
  f.language = language;
  f.lineHeatRaw = LineHeats(lines);
  for (double v : lines) f.heatRaw += v;
  f.lineCount = static_cast<int32_t>(lines.size());
  return f;
}

TEST(ProjectStats, PercentileAuditCutScaleAndRank) {
  ProjectModel model;
  std::vector<double> a, b;
  for (int i = 1; i <= 200; ++i) (i % 2 ? a : b).push_back(i);
  a.push_back(0.0);  // blank lines do not count
  model.files.emplace("/p/a.c", fileOf("/p/a.c", LanguageId::C, a));
  model.files.emplace("/p/b.c", fileOf("/p/b.c", LanguageId::C, b));
  model.files.emplace("/p/d.json", fileOf("/p/d.json", LanguageId::Json, {5000.0}));
  LspSettings settings;
  ProjectStats stats = computeProjectStats({{"/p", &model}}, settings);
  EXPECT_EQ(stats.percentileCut, 198.0);
  EXPECT_EQ(stats.auditCut, 170.0);
  EXPECT_TRUE(lineIsHot(170.5, stats, settings));
  EXPECT_FALSE(lineIsHot(170.0, stats, settings));
  EXPECT_DOUBLE_EQ(stats.lineTop, std::max(50.0, 20.0 * 20100.0 / 201.0));
  EXPECT_DOUBLE_EQ(lineHeat01(stats.lineTop, stats), 1.0);
  size_t total = 0;
  EXPECT_EQ(fileRank(10100.0, 10000.0, stats, total), 1u);  // b.c, hotter than on disk
  EXPECT_EQ(total, 2u);
  EXPECT_EQ(fileRank(10050.0, std::nan(""), stats, total), 2u);  // not in the project
  EXPECT_EQ(total, 3u);
  settings.exclude = {"b.c"};
  settings.threshold = 100.0;
  stats = computeProjectStats({{"/p", &model}}, settings);
  EXPECT_EQ(stats.fileHeats, std::vector<double>{10000.0});
  EXPECT_EQ(stats.auditCut, 139.0);
  EXPECT_TRUE(lineIsHot(100.5, stats, settings));
  EXPECT_FALSE(lineIsHot(100.0, stats, settings));
}

TEST(Server, CoalescesEditsAndPublishesTheLatestVersion) {
  std::vector<nlohmann::json> sent;
  LspServer server({[&](std::string body) { sent.push_back(nlohmann::json::parse(body)); }, {}, {}, {}});
  server.handle(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})");
  server.handle(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///t/a.c","version":1,"text":"int x;\n"}}})");
  for (int v = 2; v <= 3; ++v) {
    server.handle(R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///t/a.c","version":)" +
                  std::to_string(v) +
                  R"(},"contentChanges":[{"range":{"start":{"line":1,"character":0},"end":{"line":1,"character":0}},"text":"if (a && b) { x = c ? d : e; }\n"}]}})");
  }
  sent.clear();
  server.flush();
  ASSERT_EQ(sent.size(), 2u);  // diagnostics and line heat, once
  const nlohmann::json& diags = sent[0]["params"];
  EXPECT_EQ(diags["version"], 3);
  ASSERT_EQ(diags["diagnostics"].size(), 3u);
  EXPECT_EQ(diags["diagnostics"][1]["range"]["start"]["line"], 1);
  EXPECT_EQ(diags["diagnostics"][2]["range"]["start"]["line"], 2);
  // A lone file is its own project: fewer lines than the audit lists are all hot.
  const nlohmann::json& heat = sent[1]["params"]["heat"];
  ASSERT_EQ(heat.size(), 4u);
  EXPECT_LT(heat[0].get<double>(), heat[1].get<double>());
  EXPECT_EQ(heat[3], 0);
  server.flush();
  EXPECT_EQ(sent.size(), 2u);  // nothing new, nothing sent
}

}  // namespace
}  // namespace varnholt_app
