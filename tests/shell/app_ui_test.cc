#include "shell/app_ui.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/utf.h"
#include "fake_platform.h"
#include "project/analysis_worker.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;

// A project folder on disk, removed at the end of the test.
class TempProject {
 public:
  explicit TempProject(const std::string& name) {
    root_ = fs::temp_directory_path() /
            ("varnholt_app_" + name + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~TempProject() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(root_ / relative, std::ios::binary) << bytes;
  }
  NativeString root() const { return root_.native(); }
  // The model key of a file: the root as given, a separator, the name.
  std::string key(const std::string& relative) const {
    return nativeToUtf8Lossy((root_ / relative).native());
  }

 private:
  fs::path root_;
};

std::u16string command(const std::string& json) { return utf8ToUtf16(json); }

std::u16string selectFileCommand(const std::string& path) {
  return command("{\"type\":\"selectFile\",\"path_b64\":\"" + base64Encode(path) + "\"}");
}

class AppUITest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.attach(&app);
    app.onCreate();
    a.write("main.c", "int main(void) {\n  for (int i = 0; i < 3; i++) { if (i) return i; }\n}\n");
    a.write("util.c", "static int twice(int x) { return x * 2; }\n");
    b.write("lib.py", "def f(x):\n    return x and not x\n");
  }

  void readyPage() {
    app.onWebViewReady();
    app.handleWebMessage(command(R"({"type":"uiReady"})"));
  }

  // Runs the pending worker body and delivers its message.
  void finishWorker() {
    ASSERT_TRUE(platform.runThread());
    platform.pump();
  }

  // Analyses `root` from scratch and adopts it.
  void adopt(const NativeString& root) {
    app.startAnalysis(root, false);
    finishWorker();
    ASSERT_EQ(app.rootFolder, root);
  }

  std::vector<std::string> sentTypes() const {
    std::vector<std::string> types;
    for (const auto& json : platform.sent) types.push_back(extractJsonString(json, u"type"));
    return types;
  }

  // Takes the next posted analysis result without delivering it.
  AnalysisResult* takeResult() {
    FakePoster::Posted posted{};
    if (!platform.poster->take(posted) || posted.message != WM_APP_ANALYSIS_DONE) return nullptr;
    return reinterpret_cast<AnalysisResult*>(posted.lParam);
  }

  void deliver(AnalysisResult* result) {
    app.onAppMessage(WM_APP_ANALYSIS_DONE, 0, reinterpret_cast<intptr_t>(result));
  }

  void folderChanged() { app.onAppMessage(WM_APP_FOLDER_CHANGED, 0, 0); }

  FakePlatform platform;
  AppUI app{platform};
  TempProject a{"a"};
  TempProject b{"b"};
};

TEST_F(AppUITest, BurstOfChangesStartsOneRescanAfterTheQuietPeriod) {
  adopt(a.root());
  folderChanged();
  platform.advance(100);
  folderChanged();
  platform.advance(100);
  folderChanged();
  const uint64_t lastChange = platform.now;
  EXPECT_EQ(platform.timerArms[TIMER_FOLDER_DEBOUNCE], 1) << "a burst arms the timer once";

  uint64_t startedAt = 0;
  for (int step = 0; step < 300 && startedAt == 0; ++step) {
    platform.advance(10);
    if (!platform.threads.empty()) startedAt = platform.now;
  }
  ASSERT_NE(startedAt, 0u);
  EXPECT_GE(startedAt - lastChange, 900u);
  EXPECT_LE(startedAt - lastChange, 1150u);
  EXPECT_FALSE(app.debounceArmed);
  EXPECT_EQ(platform.timers.count(TIMER_FOLDER_DEBOUNCE), 0u);

  platform.advance(5000);
  EXPECT_EQ(platform.threads.size(), 1u);
}

TEST_F(AppUITest, ChangeDuringAnalysisWaitsForTheWorker) {
  adopt(a.root());
  app.startAnalysis(a.root(), true);  // a rescan is running
  ASSERT_EQ(platform.threads.size(), 1u);
  folderChanged();
  platform.advance(3000);
  EXPECT_EQ(platform.threads.size(), 1u) << "no second run while one is busy";
  EXPECT_TRUE(app.debounceArmed);

  finishWorker();
  const uint64_t finishedAt = platform.now;
  platform.advance(250);
  ASSERT_EQ(platform.threads.size(), 1u) << "rescan on the first tick after the worker";
  EXPECT_LE(platform.now - finishedAt, 250u);
  EXPECT_FALSE(app.debounceArmed);
}

TEST_F(AppUITest, PeriodicRescanIsIdleWhileDebounceArmedOrBusy) {
  adopt(a.root());
  ASSERT_EQ(platform.timers.count(TIMER_PERIODIC_RESCAN), 1u);

  platform.advance(59'950);
  folderChanged();        // debounce armed when the periodic tick comes
  platform.advance(100);  // periodic tick at 60 s
  EXPECT_TRUE(platform.threads.empty());
  platform.advance(1200);
  ASSERT_EQ(platform.threads.size(), 1u);  // only the debounced rescan

  platform.advance(60'000);  // periodic tick while that run is still busy
  EXPECT_EQ(platform.threads.size(), 1u);
  finishWorker();
  platform.advance(60'000);
  EXPECT_EQ(platform.threads.size(), 1u);  // now idle: the periodic rescan runs
}

TEST_F(AppUITest, NewFolderWhileAnotherRunsDiscardsTheStaleResult) {
  adopt(a.root());
  auto* path = new std::string(a.key("main.c"));
  app.onAppMessage(WM_APP_OPEN_FILE, 0, reinterpret_cast<intptr_t>(path));
  ASSERT_EQ(app.lastOpenedFile, a.key("main.c"));

  app.startAnalysis(a.root(), true);  // rescan of A running
  platform.pickerAnswers.push_back(b.root());
  app.handleWebMessage(command(R"({"type":"pickFolder"})"));
  platform.pump();  // the picker runs from the window procedure
  EXPECT_EQ(platform.pickerShown, 1);
  EXPECT_EQ(platform.threads.size(), 1u) << "B waits for A's run";

  a.write("late.c", "int late;\n");
  ASSERT_TRUE(platform.runThread());
  deliver(takeResult());  // A's result: stale
  EXPECT_EQ(app.rootFolder, a.root());
  EXPECT_EQ(app.projectModel.files.count(a.key("late.c")), 0u) << "a stale result is not adopted";
  ASSERT_EQ(platform.threads.size(), 1u) << "B starts at once";

  ASSERT_TRUE(platform.runThread());
  AnalysisResult* resultB = takeResult();
  ASSERT_NE(resultB, nullptr);
  EXPECT_EQ(resultB->root, b.root());
  EXPECT_TRUE(resultB->selectedPath.empty()) << "a new folder drops the selection";
  deliver(resultB);
  EXPECT_EQ(app.rootFolder, b.root());
  EXPECT_EQ(app.projectModel.files.count(b.key("lib.py")), 1u);
  EXPECT_FALSE(app.analysisBusy);
}

TEST_F(AppUITest, SameFolderAgainAdoptsTheRunningResultThenRerunsKeepingSelection) {
  adopt(a.root());
  app.loadIntoCodeView(a.key("util.c"));
  app.startAnalysis(a.root(), true);
  platform.pickerAnswers.push_back(a.root());
  app.handleWebMessage(command(R"({"type":"pickFolder"})"));
  platform.pump();
  EXPECT_TRUE(app.analysisPending);

  a.write("extra.c", "int x;\n");
  ASSERT_TRUE(platform.runThread());
  AnalysisResult* first = takeResult();
  ASSERT_NE(first, nullptr);
  deliver(first);  // adopted, not stale
  EXPECT_EQ(app.projectModel.files.count(a.key("extra.c")), 1u);
  ASSERT_EQ(platform.threads.size(), 1u) << "the pending request reruns";

  ASSERT_TRUE(platform.runThread());
  AnalysisResult* second = takeResult();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->selectedPath, a.key("util.c"));
  deliver(second);
  EXPECT_EQ(app.selectedPath, a.key("util.c"));
}

TEST_F(AppUITest, WatcherAndPeriodicTimerFollowOnlyRootChanges) {
  adopt(a.root());
  EXPECT_EQ(platform.timerArms[TIMER_PERIODIC_RESCAN], 1);
  ASSERT_EQ(platform.watcherStarts.size(), 1u);

  adopt(a.root());  // the same folder again
  EXPECT_EQ(platform.timerArms[TIMER_PERIODIC_RESCAN], 1);
  EXPECT_EQ(platform.watcherStarts.size(), 1u);

  adopt(b.root());
  EXPECT_EQ(platform.timerArms[TIMER_PERIODIC_RESCAN], 2);
  ASSERT_EQ(platform.watcherStarts.size(), 2u);
  EXPECT_EQ(platform.watcherStarts[1], b.root());
}

TEST_F(AppUITest, PageGetsProjectAndCodeOnEveryAdoption) {
  readyPage();
  EXPECT_TRUE(platform.sent.empty()) << "nothing to say before a project";
  adopt(a.root());
  EXPECT_EQ(sentTypes(), (std::vector<std::string>{"setProject", "setCode"}));

  platform.sent.clear();
  adopt(a.root());
  EXPECT_EQ(sentTypes(), (std::vector<std::string>{"setProject", "setProject", "setCode"}));
  EXPECT_NE(platform.sent[0].find(u"\"totalLOC\":4"), std::u16string::npos);
}

TEST_F(AppUITest, FailedRunLeavesTheProjectAndRunsThePendingRequest) {
  adopt(a.root());
  const size_t files = app.projectModel.files.size();
  app.startAnalysis(a.root(), true);
  app.startAnalysis(b.root(), false);
  app.startAnalysis(a.root(), false);  // newest request wins
  platform.threads.clear();            // the run dies without a result
  deliver(nullptr);
  EXPECT_EQ(app.projectModel.files.size(), files);
  EXPECT_EQ(app.project, &app.projectModel);
  ASSERT_EQ(platform.threads.size(), 1u) << "three requests, one follow-up";
  ASSERT_TRUE(platform.runThread());
  AnalysisResult* result = takeResult();
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->root, a.root());
  deliver(result);
}

TEST_F(AppUITest, ThreadThatCannotStartLeavesTheAppIdle) {
  platform.failThreads = true;
  app.startAnalysis(a.root(), false);
  EXPECT_FALSE(app.analysisBusy);
  EXPECT_EQ(app.requestedRoot, a.root());
  platform.failThreads = false;
  app.startAnalysis(a.root(), false);
  EXPECT_TRUE(app.analysisBusy);
}

TEST_F(AppUITest, ResultForAClosedWindowIsDestroyedByTheWorker) {
  app.startAnalysis(a.root(), false);
  app.onDestroy();
  platform.poster->kill();
  ASSERT_TRUE(platform.runThread());  // LeakSanitizer sees a result it failed to free
  EXPECT_EQ(platform.poster->size(), 0u);
  EXPECT_EQ(platform.quitCode, 0);
  EXPECT_EQ(platform.watcherStops, 1);
  EXPECT_TRUE(platform.timers.empty());
}

TEST_F(AppUITest, CommandsDoWhatThePageAsks) {
  adopt(a.root());
  app.handleWebMessage(command(R"({"type":"requestAudit"})"));
  EXPECT_TRUE(platform.sent.empty()) << "no view yet";
  readyPage();
  ASSERT_EQ(sentTypes(), (std::vector<std::string>{"setProject", "setCode"}));

  app.handleWebMessage(command(R"({"type":"requestAudit"})"));
  EXPECT_EQ(sentTypes().back(), "setAudit");

  app.handleWebMessage(selectFileCommand(a.key("main.c")));
  EXPECT_EQ(app.selectedPath, a.key("main.c"));
  ASSERT_EQ(sentTypes().back(), "setCode");
  EXPECT_EQ(base64Decode(extractJsonString(platform.sent.back(), u"code_b64")).rfind("int main(void) {", 0), 0u);

  app.handleWebMessage(command(R"({"type":"quitApp"})"));
  EXPECT_EQ(platform.closeRequests, 1);
}

TEST_F(AppUITest, MalformedOrUnknownCommandsAreIgnored) {
  adopt(a.root());
  readyPage();
  app.handleWebMessage(selectFileCommand(a.key("util.c")));
  const size_t sentBefore = platform.sent.size();
  for (const char* json : {R"({"type":"UiReady"})", R"({"type":"uiReady "})", R"({"type":5})",
                           R"({"kind":"uiReady"})", "", "{", R"({"type":"selectFile"})",
                           R"({"type":"selectFile","path_b64":""})",
                           R"({"type":"selectFile","path_b64":"-_"})",
                           R"({"type":"savePng","png_b64":""})", R"({"type":"quitapp"})",
                           "\"type\":\"pickFolder\"garbage{{{"}) {
    app.handleWebMessage(command(json));
  }
  // The one that looks like pickFolder really is found by the text search.
  platform.pump();
  EXPECT_EQ(platform.pickerShown, 1);
  EXPECT_EQ(platform.sent.size(), sentBefore);
  EXPECT_EQ(app.selectedPath, a.key("util.c"));
  EXPECT_TRUE(platform.saves.empty());
  EXPECT_EQ(platform.closeRequests, 0);

  std::u16string huge = u"{\"type\":\"selectFile\",\"path_b64\":\"";
  huge.append(4'000'000, u'A');
  app.handleWebMessage(huge + u"\"}");  // decodes to a path that is not in the project
  EXPECT_EQ(app.selectedPath.size(), 3'000'000u);
}

TEST_F(AppUITest, SnapshotNames) {
  const std::string png = "\x89PNG\r\n\x1a\n";
  app.handleWebMessage(command("{\"type\":\"savePng\",\"png_b64\":\"" + base64Encode(png) + "\"}"));
  app.handleWebMessage(command("{\"type\":\"savePng\",\"png_b64\":\"" + base64Encode(png) +
                               "\",\"name_b64\":\"" + base64Encode("h\xC3\xA9t") + "\"}"));
  app.handleWebMessage(command("{\"type\":\"savePng\",\"png_b64\":\"" + base64Encode(png) +
                               "\",\"name_b64\":\"====\"}"));
  app.handleWebMessage(command(R"({"type":"savePng","png_b64":"===="})"));
  EXPECT_TRUE(platform.saves.empty()) << "the dialog waits for the window procedure";
  platform.pump();
  ASSERT_EQ(platform.saves.size(), 3u);
  EXPECT_EQ(platform.saves[0].first, u"Varnholt_snapshot.png");
  EXPECT_EQ(platform.saves[0].second, png);
  EXPECT_EQ(platform.saves[1].first, u"h\u00e9t") << "no extension added here";
  EXPECT_EQ(platform.saves[2].first, u"Varnholt_snapshot.png");
}

TEST_F(AppUITest, MissingSelectionBlanksTheViewOnlyAfterGrace) {
  adopt(a.root());
  readyPage();
  platform.sent.clear();
  app.handleWebMessage(selectFileCommand(a.key("gone.c")));
  EXPECT_TRUE(platform.sent.empty());
  platform.advance(449);
  app.sendCode();
  EXPECT_TRUE(platform.sent.empty());
  platform.advance(1);
  app.sendCode();
  ASSERT_EQ(platform.sent.size(), 1u);
  EXPECT_EQ(platform.sent[0], utf8ToUtf16(R"({"type":"setCode","path":"","code_b64":"","lineHeat":[],"lineCV":[],"fileHeatCV":0})"));
  EXPECT_EQ(app.missingSelectionSince, 0u);

  app.selectedPath.clear();
  app.sendCode();
  EXPECT_EQ(platform.sent.size(), 2u) << "an empty selection blanks at once";
}

TEST_F(AppUITest, CodeViewKeepsTheLastGoodText) {
  adopt(a.root());
  readyPage();
  app.loadIntoCodeView(a.key("util.c"));
  const std::string before = app.codeText;
  ASSERT_FALSE(before.empty());

  a.write("util.c", "");  // an editor truncates before writing
  app.sendCode();
  EXPECT_EQ(app.codeText, before);
  EXPECT_EQ(base64Decode(extractJsonString(platform.sent.back(), u"code_b64")), before);

  app.loadIntoCodeView(a.key("nowhere.c"));
  EXPECT_TRUE(app.selectedPath.empty());
  EXPECT_EQ(app.lastOpenedFile, a.key("nowhere.c"));
}

TEST_F(AppUITest, FileThatGrewBeyondReachShowsThePlaceholder) {
  adopt(a.root());
  // Sparse, so it costs no disk; read whole, it could never fit in memory.
  std::error_code error;
  fs::resize_file(fs::path(a.root()) / "util.c", uintmax_t{1} << 40, error);
  if (error) GTEST_SKIP() << "this file system cannot hold a sparse 1 TiB file";
  EXPECT_NO_THROW(app.loadIntoCodeView(a.key("util.c")));
  EXPECT_EQ(app.selectedPath, a.key("util.c"));
  EXPECT_EQ(app.codeText, "// Failed to read file.\n");
}

TEST_F(AppUITest, OutboxFlushesOnceInOrder) {
  app.postJson(u"{\"n\":1}");
  app.postJson(u"{\"n\":2}");
  EXPECT_TRUE(platform.sent.empty());
  app.onWebViewReady();
  EXPECT_EQ(platform.sent, (std::vector<std::u16string>{u"{\"n\":1}", u"{\"n\":2}"}));
  app.flushOutbox();
  app.postJson(u"{\"n\":3}");
  EXPECT_EQ(platform.sent.size(), 3u);
  EXPECT_TRUE(app.outbox.empty());
}

}  // namespace
}  // namespace varnholt_app
