#pragma once
// Reads a folder's history on a thread of its own, so that the file list
// and the code view never wait for git. Keeps the last result to update it
// incrementally when HEAD moves.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "history/history.h"

namespace varnholt_app {

class HistoryWorker {
 public:
  // Both are called on the worker thread, for the folder of the request.
  using Progress = std::function<void(const std::string& folder, size_t done, size_t total)>;
  using Done = std::function<void(const std::string& folder, std::shared_ptr<const History> history)>;

  HistoryWorker(Progress progress, Done done);
  ~HistoryWorker();  // stops a read under way and waits for it
  HistoryWorker(const HistoryWorker&) = delete;
  HistoryWorker& operator=(const HistoryWorker&) = delete;

  // Reads `folder` (absolute, UTF-8), or brings its last history up to
  // date. A request for another folder stops a read under way; requests
  // that pile up while one runs make one more run.
  void request(const std::string& folder, int64_t now, int64_t since = 0);

 private:
  struct Request {
    std::string folder;
    int64_t now = 0;
    int64_t since = 0;
  };
  void loop();

  Progress progress_;
  Done done_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Request> pending_;
  std::string running_;  // the folder being read, empty when idle
  bool stop_ = false;
  bool cancel_ = false;
  std::shared_ptr<const History> last_;  // only the worker thread touches it
  std::string lastFolder_;
  std::thread thread_;  // last: starts once the rest is set up
};

}  // namespace varnholt_app
