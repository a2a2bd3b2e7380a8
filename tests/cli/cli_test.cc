// Runs the varnholt-report executable on folders made by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "../project/temp_tree.h"
#include "base/file_io.h"
#include "base/utf.h"
#include "project/project_analysis.h"
#include "protocol/json.h"
#include "protocol/messages.h"

namespace varnholt_app {
namespace {

struct ProcessResult {
  int exitCode = -1;  // -1: not started or no normal exit
  std::string out, err;
};

// Runs `program` to its end, its output captured in files in `scratch`.
ProcessResult runProcess(const NativeString& program, const std::vector<NativeString>& args,
                         const testing::TempTree& scratch) {
  const NativeString outPath = scratch.path("stdout.txt").native(), errPath = scratch.path("stderr.txt").native();
  ProcessResult result;
#ifdef _WIN32
  std::wstring commandLine = L"\"" + program + L"\"";
  for (const auto& arg : args) commandLine += L" \"" + arg + L"\"";  // no quotes nor trailing backslashes here
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  startup.hStdError = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  DWORD code = 0;
  if (started && WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &code)) {
    result.exitCode = static_cast<int>(code);
  }
  if (started) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
#else
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
#endif
  readWholeFile(outPath, result.out);
  readWholeFile(errPath, result.err);
  return result;
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project.file("src/main.c",
                 "int main(int argc, char **argv) {\n"
                 "  for (int i = 0; i < argc; i++) {\n"
                 "    if (argv[i][0] == '-' && argv[i][1] != 0) { puts(argv[i]); }\n"
                 "  }\n"
                 "  return argc > 3 ? 1 : 0;\n"
                 "}\n");
    project.file("src/util.py", "def f(xs):\n    for x in xs:\n        if x and not x.y:\n            yield x\n");
    project.file("README", "plain text\n");
    project.file("logo.png", "not analysed\n");
#ifndef _WIN32
    project.file("lib/q\"uote\\d.c", "int q;\n");  // needs escaping in JSON
#endif
  }

  ProcessResult report(const std::vector<std::string>& args) {
    std::vector<NativeString> native;
    for (const std::string& arg : args) native.push_back(arg == "DIR" ? project.native() : utf8ToNative(arg));
    return runProcess(utf8ToNative(VARNHOLT_REPORT_EXE), native, scratch);
  }

  // The lines of `text`, which must end with a line feed.
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      out.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "output ends without a line feed";
    return out;
  }

  testing::TempTree project;
  testing::TempTree scratch;
};

TEST_F(ReportTest, ExitCodesAndOneErrorLine) {
  EXPECT_EQ(report({"--help"}).out.rfind("usage: varnholt-report", 0), 0u);
  EXPECT_EQ(report({"--version"}).exitCode, 0);
  // Which messages: report_options_test.
  const std::vector<std::vector<std::string>> usageErrors = {{"--bogus"}, {"DIR", "DIR"}, {"--json", "--dump", "DIR"}};
  for (const auto& args : usageErrors) {
    const ProcessResult result = report(args);
    EXPECT_EQ(result.exitCode, 2) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(lines(result.err).size(), 1u) << result.err;
  }
  for (const char* folder : {"missing", "README"}) {
    const ProcessResult result = report({"--json", project.key(folder)});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(lines(result.err).size(), 1u) << result.err;
  }
}

// --json prints the program's three messages; --dump every file in path order
// with numbers that read back to the very doubles of the analysis.
TEST_F(ReportTest, JsonAndDumpMatchTheAnalysis) {
  const ProjectAnalysis analysis = analyzeProject(project.native());
  const ProcessResult json = report({"--json", "DIR"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.err, "");  // no progress line when stderr is no terminal
  EXPECT_EQ(lines(json.out), (std::vector<std::string>{
                                 buildProjectMessage(analysis.model.files, analysis.totalLines),
                                 buildAuditMessage(selectAuditItems(analysis.model.files)),
                                 buildFileLinesMessage(analysis.model.files)}));

  const std::vector<std::string> dump = lines(report({"--dump", "DIR"}).out);
  ASSERT_EQ(dump.size(), analysis.model.files.size() + 1);
  EXPECT_EQ(dump.back(), "{\"totalLOC\":" + std::to_string(analysis.totalLines) + "}");
  std::vector<std::string> keys;
  for (const auto& entry : analysis.model.files) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < keys.size(); ++i) {
    const ProjectFile& file = analysis.model.files.at(keys[i]);
    const std::string& line = dump[i];
    const std::string head = "{\"path\":\"" + jsonEscape(keys[i]) + "\",\"language\":" +
                             std::to_string(static_cast<int>(file.language)) + ",\"heatRaw\":";
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    EXPECT_NE(line.find(",\"lines\":[", head.size()), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "]}");
    std::vector<double> numbers, want{file.heatRaw};  // each reads back to the very double
    want.insert(want.end(), file.lineHeatRaw.begin(), file.lineHeatRaw.end());
    for (const char *p = line.data() + head.size(), *end = line.data() + line.size(); p < end;) {
      double value;
      const auto [next, error] = std::from_chars(p, end, value);
      if (error == std::errc()) numbers.push_back(value);
      p = error == std::errc() ? next : p + 1;
    }
    EXPECT_EQ(numbers, want) << keys[i];
  }
}

TEST_F(ReportTest, ScopeNarrowsTheRankingTheAuditAndTheFindings) {
  project.file("src/main_test.c", "int t(int x) { while (x--) { if (x & 1) return x; } return 0; }\n");
  const auto names = [&](const std::string& out, const char* f) { return out.find(jsonEscape(project.key(f))) != out.npos; };
  const std::string all = report({"--json", "DIR"}).out;
  EXPECT_EQ(report({"--json", "--scope", "all", "DIR"}).out, all);
  EXPECT_TRUE(names(all, "README") && names(all, "src/main_test.c"));
  const std::string code = report({"--json", "--scope=code", "DIR"}).out;
  EXPECT_TRUE(!names(code, "README") && names(code, "src/main_test.c"));
  const std::string nontest = report({"--json", "--scope", "nontest", "DIR"}).out;
  EXPECT_FALSE(names(nontest, "README") || names(nontest, "src/main_test.c"));
  EXPECT_TRUE(names(nontest, "src/main.c"));
  const std::string csv = report({"--format", "csv", "--scope", "nontest", "DIR"}).out;
  EXPECT_TRUE(csv.find("src/main.c") != std::string::npos && csv.find("main_test.c") == std::string::npos) << csv;

  // The text report and the CI formats take code only unless told otherwise; the page's messages keep all.
  project.file("notes.txt", std::string(40, '?') + " a ? b : c ? d : e ? f : g && h || i\n");
  const auto hasNotes = [&](std::vector<std::string> args) { return report(args).out.find("notes.txt") != std::string::npos; };
  for (const char* format : {"text", "csv", "sarif", "codeclimate", "checkstyle"}) {
    EXPECT_TRUE(hasNotes({"--format", format, "--scope", "all", "DIR"}) && !hasNotes({"--format", format, "DIR"})) << format;
  }
  EXPECT_TRUE(hasNotes({"--json", "DIR"}));
}

// Density: heat per line over at least 50 lines, so a file of one hot line does not come first.
TEST_F(ReportTest, RankByDensity) {
  project.file("tiny.c", "int f(int a, int b) { if (a && b || a > b) { while (a--) { if (b) return a ? b : a; } } return 0; }\n");
  std::string dense = "int g(int a, int c) {\n", big;
  for (int i = 0; i < 60; ++i) dense += "  if (a) c++;\n";
  for (int i = 0; i < 3000; ++i) big += "int v" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
  project.file("dense.c", dense + "  return c;\n}\n");
  project.file("big.c", big);
  const ProjectFileMap files = analyzeProject(project.native()).model.files;
  const ProjectFile &tiny = files.at(project.key("tiny.c")), &denser = files.at(project.key("dense.c"));
  ASSERT_GT(tiny.heatRaw / 2, denser.heatRaw / 63) << "per line alone, tiny.c would come first";
  const std::string out = report({"--rank", "density", "DIR"}).out;
  EXPECT_LT(out.find("dense.c"), out.find("tiny.c"));
  EXPECT_LT(out.find("tiny.c"), out.find("big.c")) << out;
  EXPECT_EQ(report({"--rank", "total", "DIR"}).out, report({"DIR"}).out);
}

TEST_F(ReportTest, ReadableReportWithoutColourWhenPiped) {
  const ProcessResult result = report({"--top", "1", "DIR"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
  const size_t filesAt = result.out.find("Hottest files"), linesAt = result.out.find("Hottest lines");
  ASSERT_LT(filesAt, linesAt);
  ASSERT_NE(linesAt, std::string::npos);
  // One file row, the hottest, by its path below the folder; then its hottest line.
  const std::string files = result.out.substr(filesAt, linesAt - filesAt);
  const std::string mainPath = project.key("src/main.c").substr(project.key("").size());
  EXPECT_NE(files.find(mainPath), std::string::npos) << result.out;
  EXPECT_EQ(files.find("util.py"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(mainPath + ":3\n"), std::string::npos) << result.out;

  // The header names the folder asked for, not the one its first file is in.
  testing::TempTree outer;
  outer.file("outer/inner/a.c", "int a;\n");
  const ProcessResult nested = runProcess(utf8ToNative(VARNHOLT_REPORT_EXE), {outer.path("outer").native()}, scratch);
  ASSERT_EQ(nested.exitCode, 0) << nested.err;
  EXPECT_EQ(lines(nested.out).at(0), "outer  " + outer.key("outer")) << nested.out;
}

TEST_F(ReportTest, ExplainOneLineAsTextOrJsonAndEveryLineInTheDump) {
  const std::string main = project.key("src/main.c");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--explain"}, {"--explain", main + ":3", "DIR"}, {"--explain", main + ":0"}}) {
    EXPECT_EQ(report(args).exitCode, 2) << args.back();
  }
  EXPECT_EQ(report({"--explain", main + ":99"}).exitCode, 1);

  const ProjectAnalysis analysis = analyzeProject(project.native());
  const double heat = analysis.model.files.at(main).lineHeatRaw[2];
  const ProcessResult text = report({"--explain", main + ":3"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find(":3  heat " + formatFixed(heat, 2) + "\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1 boolean operator (&&)\n"), std::string::npos) << text.out;
  char exact[32];
  const std::string json = report({"--explain", main + ":3", "--json"}).out;
  EXPECT_EQ(lines(json).size(), 1u);
  EXPECT_NE(json.find("\"heat\":" + std::string(exact, std::to_chars(exact, exact + 32, heat).ptr)),
            std::string::npos) << json;

  for (const std::string& line : lines(report({"--dump", "--explain", "DIR"}).out)) {
    if (line.rfind("{\"path\":\"" + jsonEscape(main), 0) != 0) continue;
    EXPECT_NE(line.find("],\"explain\":[{\"line\":1,"), std::string::npos) << line;
    EXPECT_NE(line.find("{\"line\":7,\"heat\":0,\"scored\":false,\"notScoredBecause\":\"blank\",\"notScoredText\":\"blank line\"}]}"),
              std::string::npos) << line;
  }
}

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Content and names that are not UTF-8: the report prints what the page receives.
TEST(Utf8Output, ReportPrintsExactlyWhatThePageReceives) {
  testing::TempTree project;
  testing::TempTree scratch;
  // Latin-1 text, stray bytes, and a character that straddles the preview cut.
  std::string text = "char *s = \"caf\xE9\"; /* \xFF\xFE */\nif (s) { for (;;) { x(\"";
  text.append(116, 'a');
  text += "\xC3\xA9\"); } }\n";
  project.file("latin1.c", text);
#ifndef _WIN32
  project.file("dir\xC0/bad\xFF.c", "int bad = \"\xE2\x82\";\n");
#endif
  const ProcessResult result = runProcess(
      utf8ToNative(VARNHOLT_REPORT_EXE), {asciiToNative("--json"), project.native()}, scratch);
  ASSERT_EQ(result.exitCode, 0) << result.err;

  const ProjectAnalysis analysis = analyzeProject(project.native());
  const ProjectFileMap& files = analysis.model.files;
  const std::string page =
      utf16ToUtf8Lossy(utf8ToWide(buildProjectMessage(files, analysis.totalLines))) + "\n" +
      utf16ToUtf8Lossy(utf8ToWide(buildAuditMessage(selectAuditItems(files)))) + "\n" +
      buildFileLinesMessage(files) + "\n";
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
