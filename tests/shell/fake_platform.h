#pragma once
// A platform for tests: a manual clock whose timers fire as the test moves
// it, a queue of dispatched tasks the test pumps, thread bodies the test runs
// when it chooses (or real threads), and a record of what the page and the
// desktop were asked.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/utf.h"
#include "shell/app_ui.h"
#include "shell/platform.h"

namespace varnholt_app {

class FakeDispatcher : public Dispatcher {
 public:
  bool dispatch(Task task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (alive_) queue_.push_back({std::move(task), std::this_thread::get_id()});
    return alive_;
  }
  void kill() {
    std::lock_guard<std::mutex> lock(mutex_);
    alive_ = false;
  }
  // `from`, when given: the thread that dispatched it (the history worker's
  // own thread dispatches whenever its read ends).
  bool take(Task& out, std::thread::id* from = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) return false;
    out = std::move(queue_.front().first);
    if (from != nullptr) *from = queue_.front().second;
    queue_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<std::pair<Task, std::thread::id>> queue_;
  bool alive_ = true;
};

class FakePlatform : public Platform {
 public:
  ~FakePlatform() override {
    for (auto& thread : running) thread.join();
  }
  std::shared_ptr<Dispatcher> dispatcher() override { return ui; }
  void setTimer(Timer id, uint32_t periodMs) override {
    timers[id] = {periodMs, now + periodMs};
    ++timerArms[id];
  }
  void killTimer(Timer id) override { timers.erase(id); }
  uint32_t tickCount() override { return static_cast<uint32_t>(now); }
  uint64_t monotonicMs() override { return now; }
  bool startThread(std::function<void()> body) override {
    if (realThreads) {
      running.emplace_back([this, body = std::move(body)] {
        body();
        ++finished;
      });
    } else if (!failThreads) {
      threads.push_back(std::move(body));
    }
    return !failThreads;
  }
  void startFolderWatcher(const NativeString& folder, FolderChangeHandler onChange) override {
    watcherStarts.push_back(folder);
    watcher = std::move(onChange);
  }
  void stopFolderWatcher() override {
    ++watcherStops;
    watcher = nullptr;
  }
  NativeString showFolderPicker() override { return std::exchange(pickerAnswer, {}); }
  SnapshotSaveResult saveSnapshotWithDialog(const std::string& fileName, const std::string& pngBytes) override {
    saves.emplace_back(fileName, pngBytes);
    return saveAnswer;
  }
  void setWindowTitle(const std::u16string& text) override { title = text; }
  void postWebMessage(const std::string& json) override {
    if (json.starts_with("{\"type\":\"setHistory") || json.starts_with("{\"type\":\"setLineHistory")) {
      history.push_back(json);
    } else if (json.find("PendingProject\"") != std::string::npos) {
      pending.emplace_back(sent.size(), json);
    } else {
      (json.starts_with("{\"type\":\"setProgress") ? progress : sent).push_back(json);
    }
  }
  void closeMainWindow() override { ++closeRequests; }
  void quitMessageLoop(int exitCode) override { quitCode = exitCode; }

  void attach(AppUI* application) { app = application; }

  // Runs every queued task, as the message loop would.
  void pump() {
    for (Dispatcher::Task task; ui->take(task);) task();
  }

  // Runs the oldest pending thread body to its end, on this thread.
  bool runThread() {
    if (threads.empty()) return false;
    auto body = std::move(threads.front());
    threads.pop_front();
    body();
    return true;
  }

  // Moves the clock forward, firing due timers in time order and pumping
  // the queued tasks before each, as a message loop would.
  void advance(uint64_t ms) {
    const uint64_t target = now + ms;
    for (pump();; pump()) {
      const auto next = std::min_element(timers.begin(), timers.end(),
                                         [](const auto& x, const auto& y) { return x.second.due < y.second.due; });
      if (next == timers.end() || next->second.due > target) break;
      now = next->second.due;
      next->second.due = now + next->second.period;
      if (app != nullptr) app->onTimer(next->first);
    }
    now = target;
  }

  struct Due {
    uint32_t period;
    uint64_t due;
  };
  std::shared_ptr<FakeDispatcher> ui = std::make_shared<FakeDispatcher>();
  AppUI* app = nullptr;
  uint64_t now = 1'000'000;  // a monotonic clock never reads 0 in practice
  std::map<Timer, Due> timers;
  std::map<Timer, int> timerArms;
  std::deque<std::function<void()>> threads;
  bool failThreads = false;
  bool realThreads = false;  // bodies run at once on threads of their own
  std::vector<std::thread> running;
  std::atomic<size_t> finished{0};
  std::vector<NativeString> watcherStarts;
  FolderChangeHandler watcher;  // the running watcher's callback
  int watcherStops = 0;
  NativeString pickerAnswer;
  std::vector<std::pair<std::string, std::string>> saves;
  SnapshotSaveResult saveAnswer;  // cancelled unless a test says otherwise
  std::vector<std::string> sent;
  std::vector<std::string> progress;  // "setProgress" messages, kept apart
  std::vector<std::string> history;   // and the history's, which arrive when git is done
  // The pending list's messages, each with the number of `sent` before it.
  std::vector<std::pair<size_t, std::string>> pending;
  std::u16string title;
  int closeRequests = 0;
  int quitCode = -1;
};

}  // namespace varnholt_app
