// Runs the varnholt-report executable on folders made by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "../project/temp_tree.h"
#include "project/project_analysis.h"
#include "protocol/json.h"
#include "protocol/messages.h"
#include "run_process.h"

namespace varnholt_app {
namespace {

using testing::ProcessResult;
using testing::TempTree;

#ifdef _WIN32
constexpr int kFixtureLines = 13;
#else
constexpr int kFixtureLines = 14;
#endif

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project.file("src/main.c",
                 "#include <stdio.h>\n"
                 "int main(int argc, char **argv) {\n"
                 "  for (int i = 0; i < argc; i++) {\n"
                 "    if (argv[i][0] == '-' && argv[i][1] != 0) { puts(argv[i]); }\n"
                 "  }\n"
                 "  return argc > 3 ? 1 : 0;\n"
                 "}\n");
    project.file("src/util.py", "def f(xs):\n    for x in xs:\n        if x and not x.y:\n"
                                "            yield x\n");
    project.file("lib/A.swift", "let a = [1, 2].map { $0 * 2 }");
    project.file("README", "plain text\n");
    project.file("logo.png", "not analysed\n");
#ifndef _WIN32
    project.file("lib/q\"uote\\d.c", "int q;\n");  // needs escaping in JSON
#endif
  }

  ProcessResult report(std::vector<NativeString> args) {
    return testing::runProcess(utf8ToNative(VARNHOLT_REPORT_EXE), args, scratch.native());
  }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      out.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "output ends without a line feed";
    return out;
  }

  TempTree project;
  TempTree scratch;
};

TEST_F(ReportTest, ExitCodesAndErrorLines) {
  const ProcessResult help = report({asciiToNative("--help")});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: varnholt-report", 0), 0u);
  EXPECT_EQ(help.err, "");

  const ProcessResult version = report({asciiToNative("--version")});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("varnholt-report ", 0), 0u);

  const std::vector<std::vector<NativeString>> usageErrors = {
      {asciiToNative("--bogus")},
      {project.native(), project.native()},
      {asciiToNative("--top")},
      {asciiToNative("--top"), asciiToNative("-3"), project.native()},
      {asciiToNative("--json"), asciiToNative("--dump"), project.native()},
  };
  for (const auto& args : usageErrors) {
    const ProcessResult result = report(args);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(lines(result.err).size(), 1u) << result.err;
  }

  for (const auto& folder : {project.path("missing").native(), project.path("README").native()}) {
    const ProcessResult result = report({asciiToNative("--json"), folder});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(lines(result.err).size(), 1u) << result.err;
  }
}

TEST_F(ReportTest, JsonIsTheTwoMessagesOfTheProgram) {
  const ProcessResult result = report({asciiToNative("--json"), project.native()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");  // no progress line when stderr is no terminal

  const ProjectAnalysis analysis = analyzeProject(project.native());
  ASSERT_GE(analysis.model.files.size(), 4u);
  const std::vector<std::string> got = lines(result.out);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], buildProjectMessage(analysis.model.files, analysis.totalLines));
  EXPECT_EQ(got[1], buildAuditMessage(selectAuditItems(analysis.model.files)));
  EXPECT_EQ(got[0].rfind("{\"type\":\"setProject\",", 0), 0u);
  EXPECT_NE(got[0].find("\"totalLOC\":" + std::to_string(kFixtureLines) + ","),
            std::string::npos);
  EXPECT_EQ(got[1].rfind("{\"type\":\"setAudit\",\"hint\":\"Whole codebase \xC2\xB7", 0), 0u);
}

TEST_F(ReportTest, DumpListsEveryFileInPathOrderWithExactFigures) {
  const ProcessResult result = report({asciiToNative("--dump"), project.native()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const ProjectAnalysis analysis = analyzeProject(project.native());
  const std::vector<std::string> got = lines(result.out);
  ASSERT_EQ(got.size(), analysis.model.files.size() + 1);
  EXPECT_EQ(got.back(), "{\"totalLOC\":" + std::to_string(analysis.totalLines) + "}");

  std::vector<std::string> keys;
  for (const auto& entry : analysis.model.files) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < keys.size(); ++i) {
    const ProjectFile& file = analysis.model.files.at(keys[i]);
    const std::string& line = got[i];
    const std::string head = "{\"path\":\"" + jsonEscape(keys[i]) + "\",\"language\":" +
                             std::to_string(static_cast<int>(file.language)) + ",\"heatRaw\":";
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;

    // Every number reads back to the very double of the analysis.
    const char* p = line.data() + head.size();
    const char* end = line.data() + line.size();
    double heatRaw = -1;
    p = std::from_chars(p, end, heatRaw).ptr;
    EXPECT_EQ(heatRaw, file.heatRaw) << keys[i];
    const std::string listStart = ",\"lines\":[";
    ASSERT_EQ(std::string(p, std::min<size_t>(listStart.size(), static_cast<size_t>(end - p))),
              listStart);
    p += listStart.size();
    std::vector<double> heats;
    while (p < end && *p != ']') {
      double value = -1;
      const auto parsed = std::from_chars(p, end, value);
      ASSERT_EQ(parsed.ec, std::errc()) << line;
      heats.push_back(value);
      p = parsed.ptr;
      if (p < end && *p == ',') ++p;
    }
    EXPECT_EQ(std::string(p, end), "]}");
    EXPECT_EQ(heats, file.lineHeatRaw) << keys[i];
  }
}

TEST_F(ReportTest, ReadableReportWithoutColourWhenPiped) {
  const ProcessResult result =
      report({asciiToNative("--top"), asciiToNative("1"), project.native()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
  EXPECT_NE(result.out.find("files analysed, " + std::to_string(kFixtureLines) + " lines"),
            std::string::npos)
      << result.out;

  const size_t filesAt = result.out.find("Hottest files");
  const size_t linesAt = result.out.find("Hottest lines");
  ASSERT_NE(filesAt, std::string::npos);
  ASSERT_NE(linesAt, std::string::npos);
  const std::string filesSection = result.out.substr(filesAt, linesAt - filesAt);
  // One file row, the hottest, by its path below the folder.
  const std::string mainPath = project.key("src/main.c").substr(project.key("").size());
  EXPECT_NE(filesSection.find(mainPath), std::string::npos) << result.out;
  EXPECT_EQ(filesSection.find("util.py"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(mainPath + ":4\n"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace varnholt_app
