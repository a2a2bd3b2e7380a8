// The report's --json lines against the text the page receives, for file
// content and names that are not UTF-8.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../project/temp_tree.h"
#include "base/utf.h"
#include "project/project_analysis.h"
#include "protocol/json.h"
#include "protocol/messages.h"
#include "run_process.h"

namespace varnholt_app {
namespace {

using testing::TempTree;

constexpr const char* kReplacement = "\xEF\xBF\xBD";

TEST(Utf8Output, ReportPrintsExactlyWhatThePageReceives) {
  TempTree project;
  TempTree scratch;
  // Latin-1 text, stray bytes, and a character that straddles the preview cut.
  std::string text = "char *s = \"caf\xE9\"; /* \xFF\xFE */\nif (s) { for (;;) { x(\"";
  text.append(116, 'a');
  text += "\xC3\xA9\"); } }\n";
  project.file("latin1.c", text);
#ifndef _WIN32
  project.file("dir\xC0/bad\xFF.c", "int bad = \"\xE2\x82\";\n");
#endif
  const testing::ProcessResult result = testing::runProcess(
      utf8ToNative(VARNHOLT_REPORT_EXE), {asciiToNative("--json"), project.native()},
      scratch.native());
  ASSERT_EQ(result.exitCode, 0) << result.err;

  const ProjectAnalysis analysis = analyzeProject(project.native());
  const ProjectFileMap& files = analysis.model.files;
  const std::string page =
      utf16ToUtf8Lossy(utf8ToWide(buildProjectMessage(files, analysis.totalLines))) + "\n" +
      utf16ToUtf8Lossy(utf8ToWide(buildAuditMessage(selectAuditItems(files)))) + "\n";
  EXPECT_EQ(result.out, page);
  EXPECT_NE(result.out.find(std::string("caf") + kReplacement + "\\\""), std::string::npos);
  std::string cutPreview = "if (s) { for (;;) { x(\\\"";
  cutPreview.append(116, 'a');
  EXPECT_NE(result.out.find("\"preview\":\"" + cutPreview + "\""), std::string::npos);
#ifndef _WIN32
  EXPECT_NE(result.out.find(std::string("\"name\":\"bad") + kReplacement + ".c\""),
            std::string::npos);
#endif
}

}  // namespace
}  // namespace varnholt_app
