#include "cli/report_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failure.h"

namespace varnholt_app {
namespace {

ReportOptions parse(const std::vector<std::string>& args) {
  std::vector<NativeString> native;
  for (const std::string& arg : args) native.push_back(utf8ToNative(arg));
  return parseReportOptions(native);
}

std::string usageError(const std::vector<std::string>& args) {
  try {
    parse(args);
  } catch (const Failure& failure) {
    return failure.what();
  }
  return "(accepted)";
}

TEST(ReportOptions, EveryOptionInBothForms) {
  const ReportOptions o =
      parse({"--top", "5", "--scope=nontest", "--rank", "density", "--format=csv", "--by-file",
             "--min-heat", "2.5", "--max-findings=7", "--changed-since", "HEAD~1",
             "--fail-above=10", "--baseline", "b=1.txt", "--write-baseline=w.txt",
             "--tolerance", "3%,0.5", "--", "-dir"});
  EXPECT_EQ(o.mode, ReportMode::Report);
  EXPECT_EQ(o.top, 5u);
  EXPECT_EQ(o.scope, FileScope::NonTest);
  EXPECT_TRUE(o.rankByDensity);
  EXPECT_EQ(o.ci.format, ReportFormat::Csv);
  EXPECT_TRUE(o.ci.byFile);
  EXPECT_EQ(o.ci.minHeat, 2.5);
  EXPECT_EQ(o.ci.maxFindings, 7u);
  EXPECT_EQ(o.ci.changedSince, "HEAD~1");
  EXPECT_EQ(o.ci.failAbove, 10.0);
  EXPECT_EQ(o.ci.baseline, utf8ToNative("b=1.txt"));
  EXPECT_EQ(o.ci.writeBaseline, utf8ToNative("w.txt"));
  EXPECT_EQ(o.ci.tolerance.percent, 3.0);
  EXPECT_EQ(o.ci.tolerance.raw, 0.5);
  EXPECT_EQ(o.folder, utf8ToNative("-dir"));

  const ReportOptions explain = parse({"--explain", "a:b.cc:12", "--json"});
  EXPECT_EQ(explain.explainFile, utf8ToNative("a:b.cc"));
  EXPECT_EQ(explain.explainLine, 12);
  EXPECT_EQ(explain.mode, ReportMode::Json);
  EXPECT_TRUE(parse({"--format", "dump", "--explain"}).explainDump);
  EXPECT_EQ(parse({"--format", "json", "--json"}).mode, ReportMode::Json);
  EXPECT_FALSE(parse({}).scope.has_value());
}

TEST(ReportOptions, UsageErrorsSayWhatIsWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"a", "b"}, "more than one folder given"},
      {{"--top"}, "--top needs a number"},
      {{"--top", "-3"}, "--top needs a number, not \"-3\""},
      {{"--format"}, "--format needs a value"},
      {{"--format", "xml"}, "unknown format \"xml\" (text, json, dump, sarif, codeclimate, checkstyle or csv)"},
      {{"--format=csv", "--format=sarif"}, "more than one format given"},
      {{"--min-heat=nan"}, "--min-heat needs a raw heat of 0 or more, not \"nan\""},
      {{"--tolerance", "5,-1"}, "--tolerance needs a raw heat of 0 or more, not \"-1\""},
      {{"--changed-since", "-x"}, "--changed-since needs a git revision, not \"-x\""},
      {{"--baseline="}, "--baseline needs a file name"},
      {{"--json", "--dump"}, "--json and --dump exclude each other"},
      {{"--format", "sarif", "--dump"}, "--format and --json or --dump exclude each other"},
      {{"--explain", "a.cc:0"}, "--explain needs a line number from 1, not \"0\""},
      {{"--explain", "a.cc:3", "dir"}, "--explain FILE:LINE takes only --json"},
      {{"--explain"}, "--explain needs FILE:LINE, or --dump"},
      {{"--scope", "tests"}, "--scope needs all, code or nontest, not \"tests\""},
  };
  for (const auto& [args, message] : cases) EXPECT_EQ(usageError(args), message) << args[0];
}

}  // namespace
}  // namespace varnholt_app
