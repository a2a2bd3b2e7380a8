#include "shell/app_ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "../project/temp_tree.h"
#include "base/utf.h"
#include "fake_platform.h"
#include "project/analysis_worker.h"
#include "protocol/json.h"
#include "protocol/messages.h"

namespace varnholt_app {
namespace {

using testing::TempTree;
using Types = std::vector<std::string>;

// Whether a message sent to the page names the file `key`.
bool names(const std::string& json, const std::string& key) {
  return json.find("\"path\":\"" + jsonEscape(key) + "\"") != std::string::npos;
}

class AppUITest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.attach(&app);
    app.onCreate();
    a.file("main.c", "int main(void) {\n  for (int i = 0; i < 3; i++) { if (i) return i; }\n}\n");
    a.file("util.c", "static int twice(int x) { return x * 2; }\n");
    b.file("lib.py", "def f(x):\n    return x and not x\n");
  }

  void command(const std::string& json) { app.handleWebMessage(json); }
  void readyPage() {
    app.onWebViewReady();
    command(R"({"type":"uiReady"})");
  }
  void selectFile(const std::string& key) {
    command(R"({"type":"selectFile","path_b64":")" + base64Encode(key) + "\"}");
  }
  // The watcher reports a change from its thread; by default one it cannot name.
  void folderChanged(FolderChanges changes = {{}, false}) {
    ASSERT_TRUE(platform.watcher);
    platform.watcher(std::move(changes));
    platform.pump();
  }
  void openFile(const std::string& key) { app.page().loadIntoCodeView(key); }
  // The user answers the folder dialog, which the window procedure shows.
  void pickFolder(const NativeString& root) {
    platform.pickerAnswer = root;
    command(R"({"type":"pickFolder"})");
    platform.pump();
  }
  // A change in the folder, and the quiet time after which it is rescanned.
  void changeAndRescan() {
    folderChanged();
    platform.advance(1000);
  }
  void finishWorker() {
    ASSERT_TRUE(platform.runThread());
    platform.pump();
  }
  void adopt(const NativeString& root) {
    pickFolder(root);
    finishWorker();
  }
  // A result made outside the app, handed to it as the worker's would be.
  std::unique_ptr<AnalysisResult> analyse(const NativeString& root) {
    std::unique_ptr<AnalysisResult> result;
    runAnalysisJob({root, "", nullptr, nullptr, [&](std::unique_ptr<AnalysisResult> made) { result = std::move(made); }, {}, false, nullptr});
    return result;
  }
  void deliver(std::unique_ptr<AnalysisResult> result) { app.runs().onAnalysisDone(std::move(result)); }
  Types sentTypes() const {
    Types types;
    for (const auto& json : platform.sent) types.push_back(extractJsonString(json, "type"));
    return types;
  }
  std::string lastCode() const {
    return platform.sent.empty() ? "" : base64Decode(extractJsonString(platform.sent.back(), "code_b64"));
  }

  FakePlatform platform;
  AppUI app{platform};
  TempTree a;
  TempTree b;
};

TEST_F(AppUITest, DebounceWaitsForQuietAndForTheRunningWorker) {
  adopt(a.native());
  for (int i = 0; i < 3; ++i) {
    platform.advance(100);
    folderChanged();
  }
  const uint64_t lastChange = platform.now;
  EXPECT_EQ(platform.timerArms[Timer::FolderDebounce], 1) << "a burst arms the timer once";
  while (platform.threads.empty() && platform.now < lastChange + 5000) platform.advance(10);
  EXPECT_GE(platform.now - lastChange, 900u);
  EXPECT_LE(platform.now - lastChange, 950u) << "starts when the quiet time is up";
  EXPECT_EQ(platform.timers.count(Timer::FolderDebounce), 0u);

  folderChanged();  // while that rescan runs
  platform.advance(3000);
  EXPECT_EQ(platform.threads.size(), 1u) << "no second run while one is busy";
  finishWorker();
  platform.advance(250);
  EXPECT_EQ(platform.threads.size(), 1u) << "rescan on the first tick after the worker";
  EXPECT_EQ(platform.timers.count(Timer::FolderDebounce), 0u);
  platform.advance(5000);
  EXPECT_EQ(platform.threads.size(), 1u);
}

TEST_F(AppUITest, PeriodicRescanFollowsTheRootAndWaitsForIdle) {
  adopt(a.native());
  adopt(a.native());  // the same folder again
  EXPECT_EQ(platform.timerArms[Timer::PeriodicRescan], 1);
  EXPECT_EQ(platform.watcherStarts, std::vector<NativeString>{a.native()});
  adopt(b.native());
  EXPECT_EQ(platform.timerArms[Timer::PeriodicRescan], 2);
  EXPECT_EQ(platform.watcherStarts, (std::vector<NativeString>{a.native(), b.native()}));

  platform.advance(59'950);
  folderChanged();  // debounce armed when the periodic tick comes
  platform.advance(100);
  EXPECT_TRUE(platform.threads.empty());
  platform.advance(1200);
  ASSERT_EQ(platform.threads.size(), 1u) << "only the debounced rescan";
  platform.advance(60'000);  // a periodic tick while that run is busy
  EXPECT_EQ(platform.threads.size(), 1u);
  finishWorker();
  platform.advance(60'000);
  EXPECT_EQ(platform.threads.size(), 1u) << "idle again: the periodic rescan runs";
}

TEST_F(AppUITest, FolderAskedForDuringARunDecidesWhetherItsResultIsStale) {
  adopt(a.native());
  readyPage();
  openFile(a.key("util.c"));
  changeAndRescan();
  pickFolder(a.native());  // the same folder: the running result is adopted, then rerun
  a.file("extra.c", "int x;\n");
  platform.sent.clear();
  finishWorker();
  ASSERT_FALSE(platform.sent.empty());
  EXPECT_TRUE(names(platform.sent[0], a.key("extra.c"))) << "adopted, not stale";
  const Types types = sentTypes();
  EXPECT_EQ(std::count(types.begin(), types.end(), "setCode"), 3) << "the rescan reopens the file";
  EXPECT_TRUE(names(platform.sent.back(), a.key("util.c")));

  pickFolder(b.native());
  EXPECT_EQ(platform.threads.size(), 1u) << "B waits for A's rerun";
  platform.sent.clear();
  finishWorker();
  EXPECT_TRUE(platform.sent.empty()) << "a stale result is not adopted";
  ASSERT_EQ(platform.threads.size(), 1u) << "B starts at once";
  finishWorker();
  ASSERT_FALSE(platform.sent.empty());
  EXPECT_TRUE(names(platform.sent[0], b.key("lib.py")));
}

// A first run lists its walked files before its project; fills go out only
// while that list is on the page, and a run that ends without a project
// takes its list back.
TEST_F(AppUITest, FirstRunListsItsFilesFirstAndNoPendingListOutlivesItsRun) {
  const std::string fill = R"({"type":"fillPendingProject","heatScaleLog":1,"files":[]})";
  const auto pendingTypes = [&] {
    Types types;
    for (const auto& [at, json] : platform.pending) types.push_back(extractJsonString(json, "type") + "@" + std::to_string(at));
    return types;
  };
  readyPage();
  pickFolder(b.native());
  pickFolder(a.native());  // B's result will be stale
  ASSERT_TRUE(platform.runThread());
  Dispatcher::Task task;
  while (platform.pending.empty() && platform.ui->take(task)) task();
  app.runs().onPendingFill(fill);
  platform.pump();
  EXPECT_NE(platform.pending[0].second.find(R"("paths":["lib.py"])"), std::string::npos);
  EXPECT_EQ(pendingTypes(), (Types{"setPendingProject@0", "fillPendingProject@0", "dropPendingProject@0"}))
      << "nothing was shown before B's list";
  app.runs().onPendingFill(fill);
  finishWorker();
  app.runs().onPendingFill(fill);
  EXPECT_EQ(pendingTypes(), (Types{"setPendingProject@0", "fillPendingProject@0", "dropPendingProject@0", "setPendingProject@0"}))
      << "A's list, then its project; no fill outside the list's time";
  EXPECT_EQ(sentTypes(), (Types{"setProject", "setFileLines", "setScopeInfo", "setCode"}));

  changeAndRescan();
  finishWorker();
  pickFolder(b.native());
  pickFolder(a.native());
  platform.sent.clear();
  finishWorker();
  EXPECT_EQ(platform.pending.size(), 5u) << "a rescan lists nothing; B's list went out";
  EXPECT_EQ(sentTypes(), (Types{"setProject", "setFileLines", "setScopeInfo", "setCode"})) << "A's project in place of B's list";
  EXPECT_TRUE(names(platform.sent[0], a.key("main.c")));

  // A page loaded again mid-run gets the list after the project it shows.
  finishWorker();
  app.page().onPageReloading();
  pickFolder(b.native());
  ASSERT_TRUE(platform.runThread());
  // The run's tasks but its last, the result; the history worker's, from its
  // own thread, may come at any point and change nothing here.
  std::vector<Dispatcher::Task> tasks;
  Dispatcher::Task t;
  for (std::thread::id from; platform.ui->take(t, &from);) {
    if (from == std::this_thread::get_id()) {
      tasks.push_back(std::move(t));
    } else {
      t();
    }
  }
  for (size_t i = 0; i + 1 < tasks.size(); ++i) tasks[i]();
  platform.sent.clear();
  command(R"({"type":"uiReady"})");
  EXPECT_EQ(pendingTypes().back(), "setPendingProject@4");
  EXPECT_TRUE(names(platform.sent[0], a.key("main.c")));
}

TEST_F(AppUITest, FailedOrUnstartedRunLeavesTheAppReadyForTheNextRequest) {
  platform.failThreads = true;
  pickFolder(a.native());
  platform.failThreads = false;
  pickFolder(a.native());
  ASSERT_EQ(platform.threads.size(), 1u) << "a thread that could not start leaves the app idle";
  finishWorker();
  readyPage();

  changeAndRescan();
  pickFolder(b.native());
  pickFolder(a.native());    // the newest request wins
  platform.threads.clear();  // the run dies without a result
  platform.sent.clear();
  deliver(nullptr);
  EXPECT_TRUE(platform.sent.empty()) << "the project stays";
  ASSERT_EQ(platform.threads.size(), 1u) << "three requests, one follow-up";
  platform.threads.clear();
  auto result = analyse(a.native());  // the newest request's, or it would be stale
  ASSERT_NE(result, nullptr);
  result->failure = "Could not read /x: Permission denied";
  deliver(std::move(result));
  EXPECT_TRUE(platform.sent.empty()) << "nor does a failed run's empty model replace it";
  EXPECT_EQ(platform.progress.back(), "{\"type\":\"setProgress\",\"state\":\"failed\",\"text\":\"Could not read /x: Permission denied\"}");
}

TEST_F(AppUITest, PageHearsNothingUnaskedBeforeUiReadyAndNothingForMalformedCommands) {
  app.onWebViewReady();
  adopt(a.native());
  EXPECT_TRUE(platform.sent.empty());
  command(R"({"type":"requestAudit"})");
  EXPECT_EQ(sentTypes(), (Types{"setAudit", "setAuditReasons"})) << "answers do not wait";

  platform.sent.clear();
  for (const char* json : {R"({"type":"UiReady"})", R"({"type":"uiReady "})", R"({"type":5})",
                           R"({"kind":"uiReady"})", "", "{", R"({"type":"selectFile"})",
                           R"({"type":"selectFile","path_b64":"-_"})",
                           R"({"type":"savePng","png_b64":""})", R"({"type":"quitapp"})"}) {
    command(json);
  }
  platform.pump();
  EXPECT_TRUE(platform.sent.empty());
  EXPECT_TRUE(platform.saves.empty());
  EXPECT_EQ(platform.closeRequests, 0);

  command(R"({"type":"uiReady"})");
  EXPECT_EQ(sentTypes(), (Types{"setProject", "setFileLines", "setScopeInfo", "setCode"}));
  EXPECT_NE(platform.sent[0].find("\"totalLOC\":4,"), std::string::npos);
  platform.sent.clear();
  adopt(b.native());
  EXPECT_EQ(sentTypes(), (Types{"setProject", "setFileLines", "setScopeInfo", "setCode"})) << "once per adoption";
  EXPECT_EQ(platform.progress.back(), "{\"type\":\"setProgress\",\"state\":\"idle\"}");
  platform.sent.clear();
  adopt(b.native());
  EXPECT_EQ(sentTypes(), (Types{"updateProject", "setCode"})) << "the same folder again";
  EXPECT_NE(platform.sent[0].find("\"files\":[],\"removed\":[]}"), std::string::npos);

  std::string huge = R"({"type":"selectFile","path_b64":")";
  app.handleWebMessage(huge.append(4'000'000, 'A') + "\"}");
  command(R"({"type":"quitApp"})");
  EXPECT_EQ(platform.closeRequests, 1);
}

TEST_F(AppUITest, ExplainLineAnswersForProjectFilesOnlyAndAuditRowsGetReasons) {
  readyPage();
  adopt(a.native());
  auto explain = [&](const std::string& key, const std::string& line) {
    platform.sent.clear();
    command(R"({"type":"explainLine","path_b64":")" + base64Encode(key) + R"(","line":")" + line + "\"}");
  };
  explain(a.key("main.c"), "2");
  ASSERT_EQ(sentTypes(), Types{"setExplain"});
  const std::string why = platform.sent[0];
  EXPECT_NE(why.find(R"("line":2,"explanation":{"line":2,)"), std::string::npos) << why;
  EXPECT_NE(why.find(R"("name":"loop","count":1,"value":0.2,"words":["for"]})"), std::string::npos) << why;
  explain(b.key("lib.py"), "1");  // not in this project
  EXPECT_NE(platform.sent.at(0).find(R"("explanation":null})"), std::string::npos);
  for (const char* bad : {"", "x", "2x", "-", "99999999999"}) explain(a.key("main.c"), bad);
  EXPECT_TRUE(platform.sent.empty());

  command(R"({"type":"requestAudit"})");
  ASSERT_EQ(sentTypes(), (Types{"setAudit", "setAuditReasons"}));
  EXPECT_NE(platform.sent[1].find(R"x("reasons":["1 loop keyword (for)")x"), std::string::npos)
      << platform.sent[1];
}

TEST_F(AppUITest, TheFolderNamesTheWindowAndTheAuditKeepsToTheAskedScope) {
  a.file("notes.txt", "if this and that or not those then while\n");
  a.file("tests/check.c", "int t(int x) { if (x) { while (x--) {} } return x; }\n");
  const std::string folder = a.root().filename().string();
  adopt(a.native());
  EXPECT_EQ(platform.title, utf8ToUtf16(folder + " \u2014 Varnholt"));
  readyPage();
  EXPECT_EQ(platform.sent.at(2), std::string(R"({"type":"setScopeInfo","folderName":")" + folder +
                                             R"(","notCode":[")" + jsonEscape(a.key("notes.txt")) +
                                             R"("],"testOrGenerated":[")" +
                                             jsonEscape(a.key("tests/check.c")) + "\"]}"));

  const auto audit = [&](const std::string& scope) {
    platform.sent.clear();
    command(R"({"type":"requestAudit")" + scope + "}");
    return platform.sent.at(0);
  };
  const std::string all = audit("");
  EXPECT_EQ(audit(R"(,"scope":"everything")"), all) << "an unknown scope is the whole project";
  EXPECT_TRUE(names(all, a.key("notes.txt")) && names(all, a.key("tests/check.c")));
  const std::string code = audit(R"(,"scope":"code")"), nontest = audit(R"(,"scope":"nontest")");
  EXPECT_TRUE(!names(code, a.key("notes.txt")) && names(code, a.key("tests/check.c")));
  EXPECT_TRUE(!names(nontest, a.key("notes.txt")) && !names(nontest, a.key("tests/check.c")) &&
              names(nontest, a.key("main.c")));
}

TEST_F(AppUITest, SnapshotsAreSavedFromTheWindowProcedureUnderTheGivenName) {
  const std::string png = "\x89PNG\r\n\x1a\n";
  const std::string save = R"({"type":"savePng","png_b64":")" + base64Encode(png);
  command(save + "\"}");
  command(save + R"(","name_b64":")" + base64Encode("h\xC3\xA9t") + "\"}");
  command(save + R"(","name_b64":")" + base64Encode("a\xFF") + "\"}");
  command(save + R"(","name_b64":"===="})");
  command(R"({"type":"savePng","png_b64":"===="})");
  EXPECT_TRUE(platform.saves.empty()) << "no modal dialog inside the page's callback";
  platform.pump();
  ASSERT_EQ(platform.saves.size(), 4u);
  EXPECT_EQ(platform.saves[0], std::make_pair(std::string("Varnholt_snapshot.png"), png));
  EXPECT_EQ(platform.saves[1].first, "h\xC3\xA9t") << "no extension added here";
  EXPECT_EQ(platform.saves[2].first, "a\xEF\xBF\xBD") << "a name that is not UTF-8";
  EXPECT_EQ(platform.saves[3].first, "Varnholt_snapshot.png");
  readyPage();  // the page hears how each save went
  for (auto [path, error, said] : {std::tuple{"/x/s.png", "", R"("ok":true,"path":"/x/s.png"})"},
                                   {"/ro/s.png", "Read-only file system", R"("ok":false,"text":"Could not save /ro/s.png: Read-only file system"})"}}) {
    platform.saveAnswer = {asciiToNative(path), error};
    command(save + "\"}");
    platform.pump();
    EXPECT_EQ(platform.sent.back(), std::string(std::string(R"({"type":"setSnapshot",)") + said));
  }
}

TEST_F(AppUITest, CodeViewKeepsTheLastGoodTextAndBlanksOnlyAfterGrace) {
  readyPage();
  EXPECT_TRUE(platform.sent.empty()) << "nothing to say before a project";
  adopt(a.native());
  openFile(a.key("util.c"));
  const std::string before = lastCode();
  ASSERT_EQ(before, "static int twice(int x) { return x * 2; }\n");
  a.file("util.c", "");  // an editor truncates before writing
  selectFile(a.key("util.c"));
  EXPECT_EQ(lastCode(), before);

  // A shown file that leaves the project blanks after a grace, a click outside it at once.
  std::filesystem::remove(a.path("util.c"));
  platform.sent.clear();
  changeAndRescan();
  finishWorker();
  for (const std::string& type : sentTypes()) EXPECT_NE(type, "setCode") << "blanked before the grace";
  platform.advance(450);  // nothing else asks: a timer ends the grace
  EXPECT_EQ(platform.sent.back(), std::string(kEmptyCodeMessage));
  platform.sent.clear();
  selectFile(a.key("gone.c"));
  ASSERT_EQ(platform.sent, std::vector{std::string(kEmptyCodeMessage)});
  openFile(a.key("nowhere.c"));
  EXPECT_EQ(platform.sent.size(), 2u) << "an empty selection blanks at once";

  // Sparse, so it costs no disk; read whole, it could never fit in memory.
  std::error_code error;
  std::filesystem::resize_file(a.path("main.c"), uintmax_t{1} << 40, error);
  if (error) GTEST_SKIP() << "this file system cannot hold a sparse 1 TiB file";
  openFile(a.key("main.c"));
  EXPECT_EQ(lastCode(), "// Failed to read file.\n");
}

TEST_F(AppUITest, ProgressShowsAtOnceThenAtMostTenASecond) {
  readyPage();
  pickFolder(a.native());
  for (uint64_t i = 1; i <= 100; ++i) {
    platform.advance(10);
    app.runs().onProgress(0, i);  // 0 of i files
  }
  ASSERT_EQ(platform.progress.size(), 11u) << "one at the start, before the walk knows anything";
  // A folder not on screen yet is named, so the page shows it rather than its welcome.
  EXPECT_EQ(platform.progress[10], std::string(R"({"type":"setProgress","state":"busy","done":0,"total":100,"folderName":")" +
                                               std::filesystem::path(a.native()).filename().string() + "\"}"));
  command(R"({"type":"uiReady"})");  // a page that (re)loads mid-run hears where it stands
  EXPECT_EQ(platform.progress.back(), platform.progress[10]);
  finishWorker();
  changeAndRescan();
  EXPECT_EQ(platform.progress.back(), "{\"type\":\"setProgress\",\"state\":\"busy\",\"done\":0,\"total\":0}") << "a rescan names nothing";
}

TEST_F(AppUITest, VanishedFolderKeepsItsProjectUntilItComesBackWatched) {
  readyPage();
  adopt(a.native());
  const NativeString away = a.native() + asciiToNative(".away");
  std::filesystem::rename(a.native(), away);
  changeAndRescan();
  platform.sent.clear();
  finishWorker();
  EXPECT_EQ(platform.progress.back(), std::string(R"({"type":"setProgress","state":"missing","text":"Folder not found: )" +
                                                  jsonEscape(nativeToUtf8Lossy(a.native())) + "\"}"));
  EXPECT_TRUE(platform.sent.empty()) << "the last project stays";
  platform.advance(60'000);
  EXPECT_TRUE(platform.threads.empty()) << "polled, not rescanned";
  std::ofstream(std::filesystem::path(away) / "new.c") << "int y;\n";
  std::filesystem::rename(away, a.native());
  platform.advance(1000);
  finishWorker();
  ASSERT_FALSE(platform.sent.empty()) << "a file was added while it was away";
  EXPECT_TRUE(names(platform.sent[0], a.key("new.c")));
  EXPECT_EQ(platform.watcherStarts, (std::vector<NativeString>{a.native(), a.native()}));
}

TEST_F(AppUITest, NameThatIsNotUtf8IsOpenedAndRefreshedThroughTheTextThePageShows) {
  if constexpr (sizeof(NativeString::value_type) != 1) GTEST_SKIP() << "native names are UTF-16 here";
  a.file("bad\xff.c", "int x;\n");
  readyPage();
  adopt(a.native());
  const std::string shown = a.key("bad\xEF\xBF\xBD.c");  // U+FFFD, as the page decodes it
  ASSERT_TRUE(names(platform.sent.front(), shown));
  selectFile(shown);
  EXPECT_EQ(lastCode(), "int x;\n");
  a.file("bad\xff.c", "int y;\n");
  changeAndRescan();
  finishWorker();
  EXPECT_EQ(lastCode(), "int y;\n");
  EXPECT_TRUE(names(platform.sent.back(), shown));
  command(R"({"type":"explainLine","path_b64":")" + base64Encode(shown) + R"(","line":"1"})");
  const std::string why = platform.sent.back();
  EXPECT_NE(why.find(R"("explanation":{"line":1,)"), std::string::npos) << why;
}

TEST_F(AppUITest, EditsArriveWhileAnotherFileKeepsChangingAndAfterTheFolderIsReplaced) {
  adopt(a.native());
  readyPage();
  // A log beside the sources is appended to every half second: the quiet
  // time never comes, yet the minute's rescan does.
  a.file("main.c", "int main(void) { return 1; }\n");
  const uint64_t start = platform.now;
  while (platform.threads.empty() && platform.now < start + 75'000) {
    folderChanged();
    platform.advance(500);
  }
  ASSERT_EQ(platform.threads.size(), 1u);
  EXPECT_LE(platform.now - start, 61'000u);
  finishWorker();
  EXPECT_EQ(platform.watcherStarts.size(), 1u);

  // The folder moved away and another put in its place: watched anew.
  const NativeString away = a.native() + asciiToNative(".old");
  std::filesystem::rename(a.native(), away);
  b.file("next.c", "int n;\n");
  std::filesystem::copy(b.native(), a.native());
  changeAndRescan();
  platform.sent.clear();
  finishWorker();
  ASSERT_FALSE(platform.sent.empty());
  EXPECT_TRUE(names(platform.sent[0], a.key("next.c")));
  EXPECT_EQ(platform.watcherStarts, (std::vector<NativeString>{a.native(), a.native()}));
  changeAndRescan();
  finishWorker();
  EXPECT_EQ(platform.watcherStarts.size(), 2u) << "the same folder keeps its watcher";
  std::filesystem::remove_all(away);
}

TEST_F(AppUITest, ClosingStopsEverythingAndAResultLeftBehindIsFreed) {
  adopt(a.native());
  folderChanged();
  pickFolder(b.native());
  app.onDestroy();
  EXPECT_EQ(platform.watcherStops, 1);
  EXPECT_TRUE(platform.timers.empty());
  EXPECT_EQ(platform.quitCode, 0);
  command(R"({"type":"quitApp"})");
  EXPECT_EQ(platform.closeRequests, 0) << "the window is gone";
  platform.ui->kill();
  ASSERT_TRUE(platform.runThread());  // LeakSanitizer sees a result it failed to free
}

// Real worker threads; meant for ThreadSanitizer as well.
TEST_F(AppUITest, RequestsDuringARunOnRealThreadsCollapseIntoOneFollowUp) {
  platform.realThreads = true;
  for (int i = 0; i < 300; ++i) a.file("sub/f" + std::to_string(i) + ".c", "int f;\n");
  readyPage();
  for (int i = 0; i < 6; ++i) app.startAnalysis(i % 2 ? b.native() : a.native(), false);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (bool idle = false; !idle && std::chrono::steady_clock::now() < deadline;) {
    // Every worker posts before it counts itself finished.
    const bool allFinished = platform.finished == platform.running.size();
    platform.pump();
    idle = allFinished && platform.finished == platform.running.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(platform.running.size(), 2u) << "the first run and one follow-up";
  ASSERT_EQ(sentTypes(), (Types{"setProject", "setFileLines", "setScopeInfo", "setCode"}));
  EXPECT_TRUE(names(platform.sent[0], b.key("lib.py")));
  EXPECT_NE(platform.sent[0].find("\"totalLOC\":2,"), std::string::npos);
}

// The history worker's own thread, through the dispatcher.
TEST_F(AppUITest, HistoryFollowsTheProjectAndAddsMessagesOnlyForAGitFolder) {
  // The newest setHistory holding `needle`, pumping until one comes.
  const auto awaitHistory = [&](const std::string& needle) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
      platform.pump();
      for (auto it = platform.history.rbegin(); it != platform.history.rend(); ++it) {
        if (it->starts_with("{\"type\":\"setHistory\"") && it->find(needle) != std::string::npos) {
          return *it;
        }
      }
    }
    return std::string();
  };
  const auto lineMessages = [&] {
    return std::count_if(platform.history.begin(), platform.history.end(),
                         [](const std::string& json) { return json.find("setLineHistory") != std::string::npos; });
  };
  readyPage();
  // Outside a work tree: one message that says so, and the code view as before.
  adopt(b.native());
  std::string read = awaitHistory("\"state\":\"none\"");
  ASSERT_FALSE(read.empty());
  EXPECT_FALSE(extractJsonString(read, "reason").empty()) << read;
  platform.sent.clear();
  openFile(b.key("lib.py"));
  platform.pump();
  EXPECT_EQ(sentTypes(), (Types{"setCode", "setCode"}));
  EXPECT_EQ(lineMessages(), 0);

  const auto git = [](const TempTree& tree, const std::string& args) {
    const std::string command = "git -C '" + tree.root().string() +
                                "' -c user.name=T -c user.email=t@example.invalid " + args + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  };
  if (!git(a, "init -q") || !git(a, "add -A") || !git(a, "commit -qm one")) GTEST_SKIP() << "no git";
  platform.history.clear();
  adopt(a.native());
  read = awaitHistory("\"state\":\"read\"");
  EXPECT_NE(read.find("\"path\":\"" + jsonEscape(a.key("main.c")) + "\",\"score\":"), std::string::npos) << read;
  EXPECT_NE(read.find("\"changes\":1,"), std::string::npos) << read;

  platform.history.clear();
  openFile(a.key("main.c"));
  ASSERT_GT(lineMessages(), 0);
  EXPECT_NE(platform.history.back().find("\"runs\":[[3,1,\""), std::string::npos) << platform.history.back();

  // A new commit is read after the next adopted rescan: main.c changed twice.
  a.file("main.c", "int main(void) { return 0; }\n");
  ASSERT_TRUE(git(a, "commit -qam two"));
  platform.history.clear();
  changeAndRescan();
  finishWorker();
  read = awaitHistory("\"commits\":2,");
  const size_t main = read.find(jsonEscape(a.key("main.c")));
  ASSERT_NE(main, std::string::npos) << read;
  EXPECT_EQ(read.compare(read.find("\"changes\":", main), 12, "\"changes\":2,"), 0) << read;
  EXPECT_NE(platform.history.back().find("\"runs\":[[1,2,\""), std::string::npos) << platform.history.back();
}

// The watcher's named paths alone are looked at, and the page hears only
// what changed; the minute's rescan walks and finds the rest.
TEST_F(AppUITest, NamedChangesSendAnUpdateNotTheProject) {
  readyPage();
  adopt(a.native());
  a.file("new.c", "int n;\n");
  a.file("unnamed.c", "int u;\n");
  std::filesystem::remove(a.path("main.c"));
  platform.sent.clear();
  folderChanged({{a.path("new.c").native(), a.path("main.c").native()}, true});
  ASSERT_EQ(platform.threads.size(), 1u) << "the model's files copied in the quiet time";
  ASSERT_TRUE(platform.runThread());
  platform.advance(1000);
  finishWorker();
  ASSERT_EQ(sentTypes(), (Types{"updateProject", "setCode"}));
  EXPECT_TRUE(names(platform.sent[0], a.key("new.c")));
  EXPECT_FALSE(names(platform.sent[0], a.key("unnamed.c"))) << "not named, not looked at";
  EXPECT_NE(platform.sent[0].find("\"removed\":[\"" + jsonEscape(a.key("main.c")) + "\"]"), std::string::npos);

  platform.sent.clear();
  platform.advance(60000);
  finishWorker();
  ASSERT_EQ(sentTypes(), (Types{"updateProject", "setCode"}));
  EXPECT_TRUE(names(platform.sent[0], a.key("unnamed.c")));

  a.file("second.c", "int s;\n");
  platform.sent.clear();
  folderChanged({{a.path("new.c").native()}, true});
  folderChanged();  // events were lost
  ASSERT_TRUE(platform.runThread());  // the copy, unused by a walk
  platform.advance(1000);
  finishWorker();
  ASSERT_FALSE(platform.sent.empty());
  EXPECT_TRUE(names(platform.sent[0], a.key("second.c"))) << "the whole folder is walked";
}

}  // namespace
}  // namespace varnholt_app
